// The command shell through the built program: options and exit codes, command
// files and typed lines, the command reader, colours and help, macros, the
// message file, the terminal and the help page.
#include "tests/app/run_table.h"

namespace vltest {
namespace {

const std::string kBanner = "Vesperline - V1.11\r\n";
const std::string kNoConn = "Error 10003: コマンドを実行する接続がありません: ";
const std::string kPage = "{BIN}/Vesperline.html\n";
const std::string kOpener = "#!/bin/sh\nprintf '%s\\n' \"$@\" >> opened.txt\n";
const std::string kMsgs = "!rem hi\r\n!Quit\r\nError 10011: 不明な制御コマンドです: !Quit\n!smc 999\r\n"
                          "Error 10013: 数値が正しくありません: 999\n!q\r\n";

const char kNulBytes[] = "!olf \"a\0b\" sys\n!olf c\0d sys\n!q\n";
const std::string kNulCommands(kNulBytes, sizeof kNulBytes - 1);

std::string repeated(const std::string& line, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += line;
    return s;
}

// A run that a signal ends: a connection and a log file are open, and the run
// ends as !quit would, with 128 + the signal's number.
Row endedBy(const char* name, int sig) {
    return {.name = name, .servers = {ServerBehaviour::greet("hello\r\n")},
            .cmd = "!olf s.log sys\n!open {S1} as dev wait 0\n!rem ready\n",
            .out = {"[Connection dev closed]\r\n"},
            .seen = {{"s.log", {event("Connection dev opened"), event("Connection dev closed"),
                                event("Exit Vesperline")}}},
            .steps = {{"out:!rem ready\r\n"}, {"out:hello", "signal:" + std::to_string(sig)}}, .exit = 128 + sig};
}

std::string manyLines() {
    std::string s;
    for (int i = 0; i < 3000; ++i) s += "!rem " + std::to_string(i) + "\n";
    return s + "!q\n";
}

const Row kShell[] = {
    // ---- start-up, options and exit codes ----
    {.name = "BannerAndHints", .input = "!q\n",
     .out = {kBanner, "ヘルプを表示するには !h または !oh と入力します。\r\n", "終了するには !q と入力します。\r\n"},
     .whole = true, .loud = true},
    {.name = "QuietShowsNothing", .input = "!q\n", .whole = true},
    {.name = "Version", .args = {"-ver"}, .out = {kBanner}, .exit = 2, .whole = true, .loud = true},
    {.name = "VersionThenUsage", .args = {"-ver", "-?"},
     .out = {"~^Vesperline - V1\\.11\r\nvesperline \\[<cmd-files>\\.\\.\\.\\] \\[-<options>\\.\\.\\.\\]\r\n",
             "<cmd-files>       読み込むコマンドファイル\r\n-o:<addr>         リモートのテルネットサーバーに接続\r\n"
             "                  (ssh://... と exec:... も可、!open と同じ)\r\n"
             "-wo:<msec>        接続オープン後の待機ミリ秒 (既定=2000)\r\n"
             "-wr:<msec>        受信がこのミリ秒途切れたら受信テキストを表示 (既定=100)\r\n"
             "-tn:<n>           テルネット処理 (0=しない, 1=自動, 2=常にする, 既定=1)\r\n"
             "-rxsteps:<n>      正規表現の照合 1 回で使えるステップ数 (既定=20000000)\r\n"
             "                  超えたら不一致とし警告を 1 度表示\r\n-chrset:<n>       文字セット 0=1バイト 1=Shift-JIS 2=UTF-8\r\n"
             "                  (既定: LC_ALL, LC_CTYPE, LANG の最初の空でない値が\r\n                   UTF-8 なら 2、それ以外は 1)\r\n"
             "-lang:<ja|en>     表示の言語 ja=日本語 en=英語\r\n"
             "                  (既定: LC_ALL, LC_MESSAGES, LANG の最初の空でない値が\r\n"
             "                   ja で始まるか C、POSIX、空なら ja、それ以外は en)\r\n"
             "-hist:<path>      入力行の履歴をこのファイルに保存 (最大 1000 行)\r\n"
             "-qd               待機中・実行中のアトムがなくなったら終了\r\n"
             "-rf:<path>        終わったアトムごとに結果を JSON の 1 行で記録\r\n"
             "-ssh:\"<program> [<arg>...]\"\r\n                  ssh:// の接続で起動するコマンド (既定=\"ssh -tt\")\r\n"
             "-?                使い方を表示\r\n-??               ヘルプをブラウザで表示\r\n"
             "-ver              バージョン番号等を表示\r\n制御コマンド一覧\r\n(先頭の ! を !! とすると待機実行)\r\n"
             "!read-command-file <path>\r\n                  コマンドファイルを読み込む\r\n"
             "!send <str>       現在の接続に <str> を送信\r\n",
             "!atom [<name>] [after <name>,...] [by <cname>,...]\r\n"
             "      [except-by <cname>,...] [until <rex>] [timeout <sec>] [retry <n>]\r\n"
             "                  アトム定義開始。<name> はアトム名 (既定値=A<n>)\r\n",
             "!close-log-file [<path>]  ログファイルへの記録終了\r\n",
             "!system-msg-color <c>\r\n                  システム メッセージ色 (0 なら非表示, 既定=0x16)\r\n",
             ";<str>            コメント (コマンド ファイル内)\r\n\r\n制御コマンド略記一覧\r\n略記    意味\r\n!o      !open\r\n",
             "!oh     !online-help\r\n"}, .exit = 2, .loud = true},
    {.name = "Usage", .args = {"-?"}, .out = {"~^Vesperline - V1\\.11\r\nvesperline \\[<cmd-files>"}, .exit = 2,
     .loud = true},
    {.name = "UnknownOptionsAreReportedAndTheRunGoesOn", .input = "!rem still here\n!q\n", .args = {"-x", "/y:1"},
     .out = {"Error 10007: 不明なオプションです: '-x'\nError 10007: 不明なオプションです: '/y:1'\n"}, .whole = true},
    // The message file holds the reports about arguments given before it.
    {.name = "MessageFileHoldsTheErrorsOfTheCommandLine", .input = "!q\n", .args = {"-x", "-mf:msg.txt", "-mfa"},
     .out = {"Error 10007: 不明なオプションです: '-x'\n"},
     .seen = {{"=msg.txt", {"earlier\r\n", "Error 10007: 不明なオプションです: '-x'\n"}}}, .whole = true,
     .setup = {{"msg.txt", "earlier\r\n"}}},
    // A table that the argument filter builds registers its clean-up after
    // main() has registered its exit handler; the exit must still be clean.
    {.name = "WidthFoldingInTheArgumentFilterExitsCleanly", .input = "!q\n",
     .args = {"-lrx:{@iz}x", "\x82\x98"}},
    endedBy("CtrlCEndsTheRunAsQuitDoes", 2),
    endedBy("TermEndsTheRunAsQuitDoes", 15),
    endedBy("HangUpEndsTheRunAsQuitDoes", 1),

    // ---- command files and typed lines ----
    {.name = "CommandFilesInOrderThenReadFilesAfterAllPendingLines", .cmd = "!rem a1\n!rcf more.txt\n!rem a2\n",
     .args = {"b.txt"}, .out = {"!rem a1\r\n!rcf more.txt\r\n!rem a2\r\n!rem b1\r\n!rem m1\r\n!quit\r\n"},
     .whole = true, .setup = {{"more.txt", "!rem m1\n!quit\n"}, {"b.txt", "!rem b1\n"}}},
    {.name = "QuitInTheFirstFileEndsTheRun", .cmd = "!rem c1\n!quit\n!rem never\n", .args = {"e.txt"},
     .out = {"!rem c1\r\n!quit\r\n"}, .whole = true, .setup = {{"e.txt", "!rem e1\n"}}},
    {.name = "QuitFromAFileDoesNotWaitForTheConsole", .cmd = "!q\n", .out = {"!q\r\n"}, .steps = {{"out:!q\r\n"}},
     .whole = true},
    {.name = "FileLineEndsAndMissingFiles", .cmd = "!rem one\r\n;c\r\n\r\n  !rem x\r!rcf nope.txt\n!rcf /a/b\n!q",
     .out = {"!rem one\r\n!rem x\r\n!rcf nope.txt\r\nError 17000: nope.txt を開けません",
             "!rcf /a/b\r\nError 17000: /a/b を開けません", "!q\r\n"}, .exit = 1},
    // A path argument that starts with a slash is an absolute path; a quoted
    // one that is never closed opens nothing.
    {.name = "AbsolutePathsAndUnclosedQuotes",
     .cmd = "!rcf {D}/more.vl\n!olf {D}/abs.log sys\n!olf \"half.log sys\n!clf {D}/abs.log\n!rcf \"abc\n",
     .out = {"ログファイル「{D}/abs.log」を開きました\r\n", "Error 10012: 右側の「\"」がありません: \"half.log sys\n",
             "[Log file {D}/abs.log closed for 0 connection(s)]\r\n", "Error 10012: 右側の「\"」がありません: \"abc\n",
             "!rem from more\r\n!q\r\n"},
     .absent = {"を開けません"}, .seen = {{"abs.log", {anywhere("/abs.log opened]\r\n")}}, {"=half.log sys", {}}},
     .setup = {{"more.vl", "!rem from more\n!q\n"}}},
    // Arguments are terminated texts: a NUL byte in a command would cut a
    // path short, so such a command does nothing but say so.
    {.name = "ANulByteStopsTheCommand", .cmd = kNulCommands,
     .out = {"Error 10046: 制御コマンドに NUL 文字が含まれています: !olf \"a\n",
             "Error 10046: 制御コマンドに NUL 文字が含まれています: !olf c\n", "!q\r\n"},
     .seen = {{"=a", {}}, {"=c", {}}}},
    {.name = "TextLinesCommentsAndSend", .cmd = "   hello\n;x\n!send  two\n!send\n!Quit\n", .input = ";x\n!q\n",
     .out = {kNoConn + "hello\n", kNoConn + " two\n", "!Quit\r\nError 10011: 不明な制御コマンドです: !Quit\n",
             kNoConn + ";x\n"}, .whole = true},
    {.name = "TypedLinesAreNotEchoedAndLongOnesAreNeverSplit", .cmd = "!rem from file\n",
     .input = "!rem typed\n" + std::string(2000, 'y') + "\n!q\n",
     .out = {"!rem from file\r\n", kNoConn + std::string(2000, 'y') + "\n"}, .whole = true},
    // 64 KiB of text is a line; one byte more and nothing of it goes out.
    {.name = "ATypedLineUpToItsLimitGoesOutWholeALongerOneNotAtAll", .servers = {ServerBehaviour::greet("hi\r\n")},
     .out = {"Error 10045: 入力行が長すぎます (最大 65536 バイト)\n"}, .absent = {"zz"},
     .seen = {{"=S1", {std::string(65536, 'y') + "\r\n"}}},
     .steps = {{"out:", "in:!open {S1} wait 0\n"}, {"out:hi\r\n", "in:" + std::string(65536, 'y') + "\r\n" +
                std::string(65537, 'z') + "\n!rem after\n"}, {"S1:y\r\n"}, {"out:Error 10045", "in:!q\n"}}},
    {.name = "ManyPipedLines", .input = manyLines(), .whole = true},
    {.name = "APipeThatEndsDoesNotEndTheRun", .cmd = "!wait 1\n!q\n", .out = {"!wait 1\r\n!q\r\n"}, .whole = true},
    {.name = "TokenizerQuotesAndEscapes",
     .cmd = "!m show x\n!rem [${x}]\n!em\n!cm show \"a\\\"b\"\n!cm show /p\\/q/\n!rcf \"abc\n!q\n",
     .out = {"!rem [a\"b]\r\n", "!rem [p\\/q]\r\n", "Error 10012: 右側の「\"」がありません: \"abc\n"}},
    {.name = "WaitAndEndMacroMistakes", .cmd = "!wait -1\n!em\n!end-macro x\n!q\n",
     .out = {"!wait -1\r\nError 10013: 数値が正しくありません: -1\n!em\r\nError 10010: マクロ定義外に !em があります\n"
             "!end-macro x\r\nError 10010: マクロ定義外に !end-macro x があります\n!q\r\n"}, .whole = true},

    // ---- colours, switches and help ----
    {.name = "ColoursAndTheValuesInForceInHelp",
     .cmd = "!color 1,2 3\n!color 300\n!color\n!emc 0\n!smc 0x1F\n!help\n!smc\n!emc 14\n!help\n!q\n",
     .out = {"Warning 30001: 行末の余計な記述を無視します: '3'\n",
             "Error 10008: 12Ch は色として指定できません\nError 10009: 色の指定が１つもありません\n",
             "Error 10014: '!color' のパラメータがありません\nError 10009: 色の指定が１つもありません\n",
             "!emc 0\r\nError 10013: 数値が正しくありません: 0\n", "(0 なら非表示, 既定=0x1F)\r\n",
             "エラー メッセージ色 (既定=0x0C)\r\n", "(0 なら非表示, 既定=0x00)\r\n",
             "エラー メッセージ色 (既定=0x0E)\r\n"}, .absent = {"\x1b"}},
    {.name = "ColoursOnlyOnATerminal", .cmd = "!emc 14\n!Quit\n!cls\n!q\n",
     .out = {"\x1b[93;49mError 10011: 不明な制御コマンドです: !Quit", "\x1b[0m", "\x1b[H\x1b[2J\x1b[3J"}, .terminal = true},
    {.name = "AVanishedTerminalDoesNotStopTheRun", .cmd = "!wait 1\n!emc 14\n!Quit\n!Quit\n!q\n",
     .args = {"-mf:msg.txt"},
     .seen = {{"msg.txt", {"~^(?![\\s\\S]*Error 17000[\\s\\S]*Error 17000)", "Error 10011:", "Error 10011:"}}},
     .terminal = true, .hangUpMs = 300},
    {.name = "HelpPageOpensTheFileNextToTheProgram", .args = {"-??"},
     .seen = {{"=opened.txt", {kPage}}, {"{BIN}/Vesperline.html", {"<html"}}}, .exit = 2, .whole = true,
     .setup = {{"xdg-open", kOpener}}, .env = {"PATH={D}"}},
    {.name = "OnlineHelpCommand", .input = "!oh\n!online-help\n!q\n", .seen = {{"=opened.txt", {kPage, kPage}}},
     .whole = true, .setup = {{"xdg-open", kOpener}}, .env = {"PATH={D}"}},
    {.name = "MissingOpenerGoesUnnoticed", .input = "!oh\n!ver\n!q\n", .out = {kBanner}, .whole = true,
     .env = {"PATH={D}"}},

    // ---- macros ----
    {.name = "MacroExamples",
     .cmd = "!lm\n!macro greet who\nhello ${who}\n!!wait 1\n!em\n!cm greet alice\n"
            "!m two x,y\n!rem ${x}+${y} cost ${$}5\n!rem echo ${x\n!em\n!cm two a\n!cm two a,b,c\n"
            "!lm\n!dm greet,nothing\n!lm d\n!m q\nem\n!quit\n!!em\n!rem still running\n!dm two,q\n!lm\n!q\n",
     .out = {"!lm\r\n0 個のマクロがあります\r\n",
             "!cm greet alice\r\n" + kNoConn + "hello alice\n" + kNoConn + "!!wait 1\n",
             "Warning 30002: マクロ two の実引数が足りません (仮引数=2個, 実引数=1個)\n"
             "Error 10041: マクロ引数 'y' は未定義です\nError 10040: '${' の後に '}' がありません: !rem echo ${x\n",
             "!rem a+ cost $5\r\n!rem echo ${x\r\n",
             "Warning 30003: マクロ two の実引数が多すぎます (仮引数=2個, 実引数=3個)\n", "!rem a+b cost $5\r\n",
             "2 個のマクロがあります\r\n",
             "Error 10023: マクロ nothing が見つかりません\n1 個のマクロを削除しました\r\n",
             "MACRO 'two' x,y\r\n    !rem ${x}+${y} cost ${$}5\r\n    !rem echo ${x\r\n1 個のマクロがあります\r\n",
             "[Register in macro q] em\r\n[Register in macro q] !quit\r\n", "!rem still running\r\n",
             "2 個のマクロを削除しました\r\n!lm\r\n0 個のマクロがあります\r\n!q\r\n"}, .absent = {"[Register in macro q] !!em"}},
    {.name = "NestedMacroCallsRunBeforeTheRestOfTheCaller",
     .cmd = "!m b\n!rem b1\n!em\n!m a\n!rem a1\n!cm b\n!rem a2\n!em\n!cm a\n!rem end\n!q\n",
     .out = {"!cm a\r\n!rem a1\r\n!cm b\r\n!rem b1\r\n!rem a2\r\n!rem end\r\n!q\r\n"}},
    // 100 levels of calls run; the 101st is refused.
    {.name = "SelfCallingMacroStopsAtTheDepthLimit", .cmd = "!m r\n!rem in r\n!cm r\n!em\n!cm r\n!q\n",
     .out = {"~^!m r\r\n(\\[Register in macro r\\] [^\r]*\r\n){2}!cm r\r\n(!rem in r\r\n!cm r\r\n){100}"
             "Error 10042: マクロ r の呼び出しが深すぎます \\(最大 100 段\\)\n!q\r\n$"}},
    // A macro that calls itself twice gives one error, not one per branch,
    // and what is left of its expansion is dropped.
    {.name = "ARunawayExpansionEndsWithOneError",
     .cmd = "!macro grow\n!call-macro grow\n!call-macro grow\n!end-macro\n!call-macro grow\n!quit\n",
     .out = {"Error 10042: マクロ grow の呼び出しが深すぎます (最大 100 段)\n!quit\r\n"},
     .absent = {"Error 10042: マクロ grow の呼び出しが深すぎます (最大 100 段)\n!call"}},
    // A wide expansion stops at its line limit, once.
    {.name = "AWideExpansionStopsAtItsLineLimit",
     .input = "!m b\n" + repeated("!rem b\n", 500) + "!em\n!m a\n" + repeated("!cm b\n", 500) +
              "!em\n!cm a\n!lm\n!q\n",
     .out = {"Error 10043: マクロ b の展開が大きすぎます (最大 100000 行)\nMACRO"}},

    // ---- the message file ----
    {.name = "MessageFileGetsWhatTheConsoleGets", .cmd = "!rem hi\n!Quit\n!smc 999\n!q\n", .args = {"-mf:msg.txt"},
     .out = {kMsgs}, .seen = {{"=msg.txt", {kMsgs}}}, .whole = true, .setup = {{"msg.txt", "earlier\r\n"}}},
    {.name = "MessageFileAppendedAndOnlyErrorsOnTheConsole", .cmd = "!rem hi\n!Quit\n!smc 999\n!q\n",
     .args = {"-mf:msg.txt", "-mfa", "-mfo"},
     .out = {"Error 10011: 不明な制御コマンドです: !Quit\nError 10013: 数値が正しくありません: 999\n"},
     .seen = {{"=msg.txt", {"earlier\r\n", kMsgs}}}, .whole = true, .setup = {{"msg.txt", "earlier\r\n"}}},
    {.name = "MessageFileOfARunThatReportsNothing", .input = "!q\n", .args = {"-mf:msg.txt"},
     .seen = {{"=msg.txt", {}}}, .whole = true, .setup = {{"msg.txt", "earlier\r\n"}}},

    // ---- the character set: the locale's codeset, then -chrset ----
    // "^.$" keeps the argument あ (three bytes) only when UTF-8 is in force; the
    // kept argument is then a command file that does not exist. The quoted
    // atom name reads whole only in UTF-8 (in Shift-JIS its last byte pairs
    // with the closing quote).
    {.name = "LocaleCKeepsShiftJis", .input = "!atom \"あ\"\n!end-atom\n!la\n!q\n", .args = {"-lro:^.$", "あ"},
     .out = {"Error 10012: "}, .absent = {"あ を開けません", "ATOM 'あ'"},
     .env = {"LC_ALL=", "LC_CTYPE=", "LANG=C"}},
    {.name = "LocaleJapaneseUtf8SelectsUtf8", .input = "!atom \"あ\"\n!end-atom\n!la\n!q\n",
     .args = {"-lro:^.$", "あ"}, .out = {"Error 17000: あ を開けません", "[1] ATOM 'あ'\r\n"},
     .absent = {"Error 10012"}, .exit = 1, .env = {"LC_ALL=", "LC_CTYPE=", "LANG=ja_JP.UTF-8"}},
    {.name = "LocaleEnglishUtf8SelectsUtf8", .input = "!q\n", .args = {"-lro:^.$", "あ"},
     .out = {"Error 17000: cannot open あ"}, .exit = 1, .env = {"LC_ALL=", "LC_CTYPE=", "LANG=en_US.UTF-8"}},
    {.name = "LocaleFirstNonEmptyOfLcAllLcCtypeLang", .input = "!q\n", .args = {"-lro:^.$", "あ"},
     .absent = {"あ を開けません"}, .env = {"LC_ALL=POSIX", "LC_CTYPE=ja_JP.utf8", "LANG=ja_JP.UTF-8"}},
    {.name = "LocaleCodesetInAnyCase", .input = "!q\n", .args = {"-lro:^.$", "あ"},
     .out = {"Error 17000: あ を開けません"}, .exit = 1, .env = {"LC_ALL=", "LC_CTYPE=de_DE.uTf8@euro", "LANG=C"}},
    {.name = "LocaleShiftJisCodesetKeepsShiftJis", .input = "!q\n", .args = {"-lro:^.$", "あ"},
     .absent = {"あ を開けません"}, .env = {"LC_ALL=", "LC_CTYPE=", "LANG=ja_JP.SJIS"}},
    {.name = "ChrsetOverridesTheLocale", .input = "!q\n", .args = {"-lro:^.$", "あ", "-chrset:1"},
     .absent = {"あ を開けません"}, .env = {"LC_ALL=", "LC_CTYPE=", "LANG=ja_JP.UTF-8"}},
    {.name = "Chrset2SelectsUtf8InTheCLocale", .input = "!q\n", .args = {"-chrset:2", "-lro:^.$", "あ"},
     .out = {"Error 17000: あ を開けません"}, .exit = 1, .env = {"LC_ALL=C"}},
};
RUN_TABLE(Shell, kShell);

}  // namespace
}  // namespace vltest
