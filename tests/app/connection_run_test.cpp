// Connections through the built program against loopback servers: opening at
// start and by command, names, colours and failures, echoes on a terminal, what
// a server says before it hangs up, the settings commands and the listing.
#include "tests/app/run_table.h"

namespace vltest {
namespace {

const std::string kNul("login:\r\0\r\nok\0\r\n", 15);

std::string farewell() {
    std::string s = kNul;
    for (int i = 0; i < 6000; ++i) s += "line " + std::to_string(i) + " of the farewell\r\n";
    return s;
}

std::string shownFarewell() {
    std::string s = farewell();
    std::erase(s, '\0');
    return s;
}

const Row kConnections[] = {
    // A secret read from a pipe: sent at once, also while a macro is being
    // recorded, and shown and logged masked; an unknown name is refused.
    {.name = "SecretLinesAreSentButShownAndLoggedMasked", .servers = {ServerBehaviour::greet("hello\r\n")},
     .cmd = "!olf cn.log cn\n!open {S1} wait 0\n!macro m\n",
     .out = {"[Register in macro m] !sec\r\n", "[send to C1] ********\r\n", "MACRO 'm'\r\n    !sec\r\n", "Error 10005: 接続「nowhere」が見つかりません",
             "[send to C1] visible\r\n", "行末の余計な記述を無視します: 'extra'", "[send to C1] ********\r\n"},
     .absent = {"hunter2", "[Register in macro m] ********", "[send to C1] lost"},
     .seen = {{"=S1", {"hunter2\r\nvisible\r\n\r\n"}},
              {"cn.log", {"[C1>]********\r\n[C1>]visible\r\n[C1>]********\r\n", nowhere("hunter2")}}},
     // Typed once the connection is up, so that every line goes out at once.
     .steps = {{"out:hello\r\n", "in:!sec\nhunter2\n!em\n!lm d\n!secret nowhere\nlost\nvisible\n!secret C1 extra\n\n!q\n"}}},
    // Connections connect by themselves: the typed !lc waits for the greetings.
    {.name = "StartUpConnectionThenOpensCountOnAndTheLastIsCurrent",
     .servers = {ServerBehaviour::greet("one>"), ServerBehaviour::greet("two>")},
     .cmd = "!lc\n!open {S2} wait 0\nto C2\n!open localhost:{P2} as named wait 0\n",
     .args = {"-o:{S1}", "-wo:1000", "-wr:0"},
     .out = {"one>!lc\r\n[1] CONNECTION 'C1' -> {S1} [ready]\r\n1 個の接続があります\r\n",
             "[1] CONNECTION 'C1' -> {S1} [ready]\r\n[2] CONNECTION 'C2' -> {S2} [ready]\r\n"
             "[3] CONNECTION 'named' -> {S2} [ready]\r\n3 個の接続があります\r\n"}, .absent = {"Error"},
     .seen = {{"=S2", {"to C2\r\n"}}},
     .steps = {{"out:[send to C2] to C2\r\n"}, {"out#2:two>", "in:!lc\n!q\n"}}},
    // The listing shows each connection in its colour: 3 automatic; the
    // unresolvable and the refused one used up 6 and 5 (and their numbers);
    // the bad colours left 2, then 5 as given, then 4.
    {.name = "NamesColoursAndFailuresOfOpen", .servers = {ServerBehaviour::greet("hi>")},
     .cmd = "!open {S1} color 0 wait 0\n!open no-such-host.invalid:23 wait 0\n!open {R} wait 0\n"
            "!open {S1} color 256 wait 0\n!open {S1} as C5 color 5 color -1 wait 0\n!open {S1} as C5 wait 0\n"
            "!open {S1} nr wait 0 bogus and more\n!open {S1} color 0x1E wait 0\n",
     .out = {anywhere("「no-such-host.invalid:23」を IP アドレスに変換できません"),
             anywhere("Error 17300: Socket Error 111 (Connection refused): failed to connect() to 127.0.0.1"),
             "接続「」に対する色指定 100h は正しくありません", "接続「C5」に対する色指定 FFFFFFFFh は正しくありません",
             "接続「C5」はすでに存在します", "行末の余計な記述を無視します: 'bogus and more'",
             "\x1b[36;49m[1] CONNECTION 'C1' -> {S1} [ready]\r\r\n\x1b[0m"
             "\x1b[32;49m[2] CONNECTION 'C4' -> {S1} [ready]\r\r\n\x1b[0m"
             "\x1b[35;49m[3] CONNECTION 'C5' -> {S1} [ready]\r\r\n\x1b[0m"
             "\x1b[31;49m[4] CONNECTION 'C6' -> {S1} [occupied]\r\r\n\x1b[0m"
             "\x1b[93;44m[5] CONNECTION 'C7' -> {S1} [ready]\r\r\n\x1b[0m5 個の接続があります",
             "[3] CONNECTION 'C5' -> {S1} [occupied]\r\r\n\x1b[0m\x1b[31;49m[4] CONNECTION 'C6' -> {S1} [occupied]"},
     .steps = {{"out:failed to connect()"}, {"out:に変換できません"}, {"out#5:hi>", "in:!rcf rest.vl\n"}},
     .exit = 1, .terminal = true, .setup = {{"rest.vl", "!lc\n!nr C5\n!lc\n!q\n"}}},
    // Lines are echoed when they go out, so each setting changes after the line before it went.
    {.name = "EchoesAndSwitchesOnATerminal", .servers = {ServerBehaviour::greet("hello")},
     .cmd = "!open {S1} wait 0\nfile line\n",
     .out = {anywhere("\x1b[36;49mhello\x1b[0m"),
             "\x1b[96;49mfile line\x1b[0m\r\r\n\x1b[33;44m[send to C1] file line\x1b[0m\r\r\n",
             // In the assignment notice only the connection's name is coloured.
             "[Atom A1 => \x1b[36;49mConnection C1\x1b[0m]\r\r\n\x1b[96;49mx\x1b[0m\r\r\n", "\x1b[36;49mplain\x1b[0m",
             "\x1b[30;46mrev\x1b[0m", "\x1b[90;46mrev2\x1b[0m", "行末の余計な記述を無視します: '2'",
             "\x1b[96;49mplain2\x1b[0m", "接続「C1」を\x1b[93;44mこの色\x1b[0mに設定しました"}, .absent = {"mhidden", "mtyped"},
     .seen = {{"=S1", {"file line\r\nx\r\nhidden\r\nplain\r\nrev\r\nrev2\r\nplain2\r\ntyped\r\n"}}},
     .steps = {{"out:hello"}, {"out:[send to C1] file line", "in:!rcf rest.vl\n"}, {"out:この色", "in:typed\n"},
               {"S1:typed\r\n", "in:!q\n"}}, .terminal = true,
     .setup = {{"rest.vl", "!atom A1\nx\n!end-atom\n!is 0\nhidden\n!is\n!ih 0\nplain\n!ir\nrev\n!ih\nrev2\n"
                           "!ir 0 2\nplain2\n!sc color 0x1E\n"}}},
    {.name = "EverythingAServerSaysBeforeItHangsUpIsShownButNul",
     .servers = {ServerBehaviour::greet(""), ServerBehaviour::sendAndClose(farewell())},
     .cmd = "!olf log.txt\n!open {S1} wait 0\n!open {S2} as t wait 0\n",
     .out = {shownFarewell() + "[Connection t closed]\r\n", "[send to C1] now\r\n"},
     .seen = {{"log.txt", {farewell(), "now\r\n"}}}, .steps = {{"out:[Connection t closed]", "in:now\n!q\n"}}},
    {.name = "OrderCurrentAndColourOfConnections", .servers = {ServerBehaviour::greet("hi>")},
     .cmd = "!open {S1} as A wait 0\n!open {S1} as B wait 0\n!open {S1} as C wait 0\n",
     .out = {"接続「A」を 3/3 番目に移動しました\r\n!lc\r\n[1] CONNECTION 'B'", "[2] CONNECTION 'C'",
             "[3] CONNECTION 'A'", "!lc\r\n[1] CONNECTION 'A'", "[2] CONNECTION 'C'", "[3] CONNECTION 'B'",
             "!lc\r\n[1] CONNECTION 'C'", "[2] CONNECTION 'A'", "[3] CONNECTION 'B'",
             "接続「B」をこの色に設定しました\r\n", "Error 10005: 接続「Z」が見つかりません\n",
             "Error 10008: 接続「C」に対する色指定 100h は正しくありません\n",
             "Warning 30001: 行末の余計な記述を無視します: 'extra'\n", "Error 10005: 接続「nobody」が見つかりません\n",
             "!nr\r\n[Connection C occupied]\r\n!nr\r\n!sc C order 1\r\nError 10027: 接続「C」は使用中です\n"
             "!nr nobody\r\nError 10001: 接続が見つかりません\n!lc\r\n[1] CONNECTION 'A' -> {S1} [ready]\r\n"
             "[2] CONNECTION 'B' -> {S1} [ready]\r\n[3] CONNECTION 'C' -> {S1} [occupied]\r\n"},
     .steps = {{"out#3:hi>", "in:!rcf rest.vl\n"}},
     .setup = {{"rest.vl", "!sc A current\n!lc\n!sc C order 1\n!sc A order 0\n!lc\n!sc A order 99\n!cc B\n!lc\n"
                           "!sc color 30\n!sc Z color 5\n!sc C color 256\n!sc C current extra\n!cc nobody\n!nr\n"
                           "!nr\n!sc C order 1\n!nr nobody\n!lc\n!q\n"}}},
    {.name = "ReadyOnAnOccupiedCloseOnReadyConnectionClosesIt", .servers = {ServerBehaviour::greet("hi>")},
     .cmd = "!open {S1} as B nr wait 0\n!open {S1} as C wait 0\n",
     .out = {"Error 10004: 閉じるべき接続が見つかりません\n", "Error 10004: 閉じるべき接続が見つかりません\n",
             "[1] CONNECTION 'B' -> {S1} [occupied] [close on ready]\r\n", "[Connection B ready]\r\n",
             "[Connection B closed]\r\n[1] CONNECTION 'C' -> {S1} [ready]\r\n1 個の接続があります\r\n",
             "[Connection C closed]\r\nError 10004: 閉じるべき接続が見つかりません\n0 個の接続があります\r\n"},
     .steps = {{"out#2:hi>", "in:!rcf rest.vl\n"}, {"out:[Connection B closed]", "in:!lc\n!r\n!close\n"},
               {"out:[Connection C closed]", "in:!close\n!lc\n!q\n"}},
     .setup = {{"rest.vl", "!cor B\n!cor nobody\n!close nobody\n!lc\n!r B\n"}}},
    {.name = "ListingWithEveryMark", .servers = {ServerBehaviour::greet("hi>")},
     .cmd = "!olf a.log for A\n!olf b1.log for B\n!olf b2.log for B\n!open {S1} as A wait 0\n!open {S1} as B wait 0\n"
            "!open {S1} as C nr wait 0\n!atom A5 by B\nx\n!end-atom\n!cor B\n",
     .out = {"[1] CONNECTION 'A' -> {S1} [ready] [logging]\r\n"
             "[2] CONNECTION 'B' -> {S1} [occupied for A5] [logging to 2 files] [close on ready]\r\n"
             "[3] CONNECTION 'C' -> {S1} [occupied]\r\n3 個の接続があります\r\n"},
     .steps = {{"out#3:hi>"}, {"out:[send to B] x", "in:!lc\n!q\n"}}},
};
RUN_TABLE(Connections, kConnections);

}  // namespace
}  // namespace vltest
