// The language of the program's texts through the built program: the locale's
// choice (LC_ALL, LC_MESSAGES, LANG), -lang over it and anywhere among the
// arguments, and English runs that show no Japanese at all.
#include "tests/app/run_table.h"

namespace vltest {
namespace {

const std::string kInput = "!lc\n!xx\n!q\n";
const std::string kJapanese = "0 個の接続があります\r\nError 10011: 不明な制御コマンドです: !xx\n";
const std::string kEnglish = "0 connection(s)\r\nError 10011: no such control command: !xx\n";

Row locale(const char* name, std::vector<std::string> env, const std::string& out,
           std::vector<std::string> args = {}) {
    return {.name = name, .input = kInput, .args = std::move(args), .out = {out}, .whole = true,
            .env = std::move(env)};
}

// Commands whose confirmations, summaries and errors an English run shows.
const std::string kEnglishSession =
    "!help\n!lc\n!atom a1 by nobody\nx\n!end-atom\n!la d\n!m mm p\n!rem ${p}\n!em\n!lm d\n!cm mm\n!xx\n"
    "!color 300\n!olf\n!sc dev color 5\n!sc dev order 1\n!sc dev eol lf\n!dm zz\n!da zz\n!dca zz\n!rcf nope.vl\n"
    "!close nobody\n!q\n";

const Row kLanguage[] = {
    // ---- the locale decides: the first non-empty of LC_ALL, LC_MESSAGES, LANG ----
    locale("LangCKeepsJapanese", {"LANG=C"}, kJapanese),
    locale("NoLocaleKeepsJapanese", {"LC_ALL=", "LC_MESSAGES=", "LANG="}, kJapanese),
    locale("LangPosixKeepsJapanese", {"LANG=POSIX"}, kJapanese),
    locale("LangCUtf8KeepsJapanese", {"LANG=C.UTF-8"}, kJapanese),
    locale("LangJapaneseUtf8KeepsJapanese", {"LANG=ja_JP.UTF-8"}, kJapanese),
    locale("LangEnglishUtf8GivesEnglish", {"LANG=en_US.UTF-8"}, kEnglish),
    locale("AnyOtherLanguageGivesEnglish", {"LANG=de_DE.UTF-8"}, kEnglish),
    locale("LcAllOverLang", {"LC_ALL=en_US.UTF-8", "LANG=ja_JP.UTF-8"}, kEnglish),
    locale("LcAllCOverAnEnglishLang", {"LC_ALL=C", "LANG=en_US.UTF-8"}, kJapanese),
    locale("LcMessagesOverLang", {"LC_ALL=", "LC_MESSAGES=fr_FR.UTF-8", "LANG=ja_JP.UTF-8"}, kEnglish),
    // LC_CTYPE chooses the character set, not the language.
    locale("LcCtypeDoesNotChooseTheLanguage", {"LC_CTYPE=en_US.UTF-8"}, kJapanese),

    // ---- -lang over the locale, wherever it stands ----
    locale("LangJaOverAnEnglishLocale", {"LANG=en_US.UTF-8"}, kJapanese, {"-lang:ja"}),
    locale("LangEnOverTheCLocaleInAnyCase", {"LANG=C"}, kEnglish, {"-lang:EN"}),
    locale("AnUnknownLangIsReportedAndTheLocaleDecides", {"LANG=C"},
           "Warning 35000: -lang の値が正しくありません: 'fr' (ja または en)\n" + kJapanese, {"-lang:fr"}),
    // Reports about the arguments made before -lang is read come in its language,
    // on the console and in the message file.
    {.name = "LangAppliesToTheReportsOfTheArgumentsBeforeIt", .input = "!q\n",
     .args = {"-x", "-lro:\\q", "-lang:en", "-mf:msg.txt"},
     .out = {"Warning 35000: unknown escape '\\q' in regular expression\nError 10007: unknown option: '-x'\n"},
     .seen = {{"=msg.txt", {"Warning 35000: unknown escape '\\q' in regular expression\n"
                            "Error 10007: unknown option: '-x'\n"}}},
     .whole = true, .env = {"LANG=C"}},
    {.name = "LangInAResponseFile", .input = "!q\n", .args = {"-lro:\\q", "-f:args.rsp"},
     .out = {"Warning 35000: 「\\q」は正規表現のエスケープ表記として正しくありません\n"
             "Error 10007: 不明なオプションです: '-y'\n"},
     .whole = true, .setup = {{"args.rsp", "-y -lang:ja\n"}}, .env = {"LANG=en_US.UTF-8"}},

    // ---- English runs hold no Japanese ----
    {.name = "EnglishUsageHasNoJapanese", .args = {"-?", "-lang:en"},
     .out = {"vesperline [<cmd-files>...] [-<options>...]\r\n<cmd-files>       command files to read\r\n",
             "Control commands\r\n", "Short forms of the control commands\r\nshort   meaning\r\n!o      !open\r\n"},
     .exit = 2, .loud = true, .asciiOnly = true},
    {.name = "EnglishSessionHasNoJapanese", .servers = {ServerBehaviour::greet("hello\r\n")}, .args = {"-lang:en"},
     .out = {"Enter !h or !oh for help.\r\nEnter !q to quit.\r\n", "hello\r\n", "Control commands\r\n",
             "!secret [<cname>]\r\n                  send the next typed line to the connection without showing it\r\n",
             "!system-msg-color <c>\r\n                  colour of system messages (0 hides them, default 0x16)\r\n",
             "[1] CONNECTION 'dev' -> {S1} [ready]\r\n1 connection(s)\r\n", "[Register in a1] x\r\n",
             "[1] ATOM 'a1' by nobody\r\n    x\r\n1 atom(s) waiting\r\n", "MACRO 'mm' p\r\n    !rem ${p}\r\n1 macro(s)\r\n",
             "Warning 30002: too few arguments for macro mm (parameters=1, arguments=0)\n",
             "Error 10041: macro argument 'p' is not defined\n", "Error 10011: no such control command: !xx\n",
             "Error 10008: 12Ch cannot be used as a colour\nError 10009: no colour given\n",
             "Error 10019: please give the log file path\n", "connection dev set to this colour\r\n",
             "connection dev moved to position 1 of 1\r\n", "line ending of connection dev set to lf\r\n",
             "Error 10023: macro zz not found\n0 macro(s) deleted\r\n",
             "Error 10018: atom zz not found\n0 atom(s) deleted\r\n",
             "Error 10018: completed atom zz not found\n0 completed atom(s) deleted\r\n",
             "Error 17000: cannot open nope.vl: No such file or directory\n", "Error 10004: no connection to close was found\n"},
     .steps = {{"out:", "in:!open {S1} as dev wait 0\n"}, {"out:hello\r\n", "in:" + kEnglishSession}},
     .exit = 1, .loud = true, .asciiOnly = true},  // the command file that is missing
    // A batch in English: a stuck head, a failed atom, programs that cannot
    // start, the failed atoms' line and the summary, on the console and in the log.
    {.name = "EnglishBatchHasNoJapanese", .servers = {ServerBehaviour::greet("")},
     .cmd = "!olf sys.log sys\n!open {S1} wait 0\n!atom A\nwork\n!end-atom\n!atom S by NOPE\ns\n!end-atom\n",
     .args = {"-lang:en"},
     .out = {anywhere("Warning 30010: no open connection may run atom S: by NOPE\n"),
             "[Connection C1 closed]\r\n[Atom A failed on C1: connection closed]\r\n",
             "[1] ATOM 'S' by NOPE timeout 5 retry 2\r\n1 atom(s) waiting\r\nfailed atoms: A\r\n",
             "Error 10070: cannot start program '/nonexistent/prog': ",
             "Error 10072: invalid SSH destination: 'ssh://-x'\n",
             "Error 10071: no program to start is given: 'exec:'\n",
             "!atom-timeout [<sec>]\r\n                  seconds that atoms without a timeout wait",
             "!quit [<n>]       end Vesperline (<n> is the exit code, 0 to 255)\r\n",
             "!quit-when-done [0|1]\r\n                  end once no atom is waiting or running\r\n",
             "Error 10013: invalid number: 300\n", "[0 atoms completed, 1 failed, 0 skipped, 1 still waiting]\r\n"},
     .seen = {{"sys.log", {event("Atom A failed on C1: connection closed"),
                           event("0 atoms completed, 1 failed, 0 skipped, 1 still waiting")}}},
     .steps = {{"S1:work\r\n", "reset:S1"},
               {"out:connection closed]", "in:!da S\n!atom S by NOPE timeout 5 retry 2\ns\n!end-atom\n"
                                          "!la\n!ato 5\n!qd 0\n!open \"exec:/nonexistent/prog\"\n!open ssh://-x\n"
                                          "!open exec:\n!help\n!q 300\n"}},
     .exit = 1, .asciiOnly = true},
};
RUN_TABLE(Language, kLanguage);

}  // namespace
}  // namespace vltest
