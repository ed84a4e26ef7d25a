// Isolation and scale through the built program: a wait holds back only the
// lines after it, a connect that hangs or fails costs only its own
// connection, a low limit of open files refuses opens one by one, and a log
// file that cannot be written is closed while everything else goes on.
#include "tests/app/run_table.h"


namespace vltest {
namespace {

const ServerBehaviour kEcho = ServerBehaviour::echoing(), kDead = ServerBehaviour::neverAccepting();
// Answers every run of bytes it receives with a line of 40 'a'.
ServerBehaviour aLineForEachLine() {
    ServerBehaviour b;
    b.script = [](const std::string&) { return std::string(40, 'a') + "\r\n"; };
    return b;
}
const std::string kRefused = "Error 17300: Socket Error 111 (Connection refused): failed to connect() to 127.0.0.1";

const Row kIsolation[] = {
    // ---- waits ----
    // The run ends long before the 60 s: the other connection's atoms complete
    // meanwhile, and the end of the run cancels the wait.
    {.name = "AnAtomsWaitHoldsBackOnlyTheRestOfThatAtom", .servers = {kEcho, kEcho},
     .cmd = "!open {S1} as A wait 0\n!open {S2} as B wait 0\n!atom slow by A\none\n!!wait 60\ntwo #END#\n!end-atom\n"
            "!atom f1 by B\nf1 #END#\n!end-atom\n!atom f2 by B\nf2 #END#\n!end-atom\n"
            "!atom Q after f1,f2 by B\n!!la\n!!lc\n!!quit\n!end-atom\n",
     .out = {"[Atom slow => Connection A]", anywhere("[send to A] one\r\n"), anywhere("!!wait 60\r\n"),
             "[Atom f2 => Connection B]",
             "[Atom Q => Connection B]", "完了したアトム: f1,f2\r\n",
             "[1] CONNECTION 'A' -> {S1} [occupied]\r\n[2] CONNECTION 'B' -> {S2} [occupied]\r\n"},
     .absent = {"[send to A] two"}, .seen = {{"=S1", {"one\r\n"}}}, .timeoutMs = 20000},
    // A1 completes during the wait, A2 runs then and ends the run; the lines
    // after the wait, typed ones included, never run.
    {.name = "AWaitInACommandFileHoldsBackOnlyTheLinesAfterIt", .servers = {ServerBehaviour::greet("")},
     .cmd = "!open {S1} wait 0\n!atom A1\na1\n!end-atom\n!atom A2 after A1\n!!quit\n!end-atom\n!wait 60\n!rem never\n",
     .out = {"!wait 60\r\n", "[Atom A2 => Connection C1]\r\n!!quit\r\n"},
     .absent = {"!rem never", "typed"},
     .steps = {{"out:!wait 60", "in:!rem typed\n"}, {"S1:a1\r\n", "S1:#END#"}}, .timeoutMs = 20000},
    // A connection that closes during an atom's wait does not keep its atom
    // waiting: the next line is reported at once and the rest dropped.
    {.name = "ClosingTheConnectionEndsTheWaitOfItsAtom", .servers = {kEcho},
     .cmd = "!open {S1} as A wait 0\n!atom slow\none\n!!wait 60\ntwo\nthree\n!end-atom\n",
     .out = {"[Connection A closed]\r\nError 10006: 接続が閉じられたためコマンドを実行できません: two\n"
             "[Atom slow failed on A: connection closed]\r\n"},
     .absent = {": three", "[send to A] two"},
     .steps = {{"S1:one\r\n", "in:!close A\n"}, {"out:10006", "in:!q\n"}}, .exit = 1, .timeoutMs = 20000},
    // !ready abandons an atom whose wait holds the rest back: the connection
    // takes the next atom, and the rest of the first never goes out.
    {.name = "ReadyAbandonsAnAtomThatWaits", .servers = {kEcho},
     .cmd = "!open {S1} as A wait 0\n!atom slow\none\n!!wait 60\ntwo\n!end-atom\n!atom next\nn #END#\n!end-atom\n"
            "!atom Q after next\n!!la\n!!quit\n!end-atom\n",
     .out = {"[Connection A ready]\r\n[Atom slow failed on A: abandoned]\r\n", "[Atom next => Connection A]",
             "完了したアトム: next\r\n失敗したアトム: slow\r\n"},
     .absent = {"[send to A] two"}, .seen = {{"=S1", {"one\r\nn #END#\r\n"}}},
     .steps = {{"S1:one\r\n", "in:!ready A\n"}}, .exit = 1, .timeoutMs = 20000},
    {.name = "TheWaitOfAnOpenCountsFromItsLineAndItsLinesQueue", .servers = {kDead},
     .cmd = "!open {S1} as dead wait 300\nhello\nsecond\n",
     .out = {"[Register for dead] hello\r\n[Register for dead] second\r\n",
             "[1] CONNECTION 'dead' -> {S1} [connecting]\r\n1 個の接続があります\r\n",
             // The end of the run cancels the connect: what waited is reported.
             "Error 10006: 接続が閉じられたためコマンドを実行できません: hello\n[2 lines not sent to dead]\r\n"
             "[Connection dead closed]\r\n"},
     .steps = {{"out:[Register for dead] second", "in:!lc\n"}, {"out:[connecting]", "in:!q\n"}}, .timeoutMs = 15000},

    // ---- connects ----
    {.name = "ATypedListIsAnsweredWhileAConnectHangs", .servers = {kDead, ServerBehaviour::greet("hi>")},
     .cmd = "!open {S1} as dead wait 0\n!open {S2} as live wait 0\n",
     .out = {"hi>[1] CONNECTION 'dead' -> {S1} [connecting]\r\n[2] CONNECTION 'live' -> {S2} [ready]\r\n"
             "2 個の接続があります\r\n"},
     .steps = {{"out:hi>", "in:!lc\n!q\n"}}, .timeoutMs = 15000},
    {.name = "AHostOfTheCommandLineThatNeverAnswersHoldsUpNothing", .servers = {kDead, kEcho},
     .cmd = "!atom A by C2\na #END#\n!end-atom\n!atom Q after A by C2\n!!lc\n!!quit\n!end-atom\n",
     .args = {"-o:{S1}", "-o:{S2}", "-wo:0"},
     .out = {"[1] CONNECTION 'C1' -> {S1} [connecting]\r\n[2] CONNECTION 'C2' -> {S2} [occupied]\r\n",
             "[Connection C1 closed]"},
     .timeoutMs = 15000},
    // The server stops listening while the lines wait: the next retry of the
    // connect is refused. The lines are reported once, and the connection
    // leaves the list without a close notice, never having opened.
    {.name = "LinesForAConnectThatFailsAreReportedOnce", .servers = {kDead},
     .cmd = "!open {S1} as dead wait 0\none\ntwo\nthree\n",
     .out = {"[Register for dead] three\r\n", kRefused,
             "Error 10006: 接続が閉じられたためコマンドを実行できません: one\n[3 lines not sent to dead]\r\n",
             nowhere("10006"), "0 個の接続があります\r\n"},
     .absent = {"closed]"},
     .steps = {{"out:[Register for dead] three", "close:S1"}, {"out:lines not sent to dead]", "in:!lc\n!q\n"}},
     .exit = 1},
    {.name = "OneLineForAConnectThatFailsIsReportedAlone", .servers = {kDead},
     .cmd = "!open {S1} as dead wait 0\nonly\n",
     .out = {kRefused, "Error 10006: 接続が閉じられたためコマンドを実行できません: only\n", "0 個の接続があります\r\n"},
     .absent = {"not sent"},
     .steps = {{"out:[Register for dead] only", "close:S1"}, {"out:10006", "in:!lc\n!q\n"}}, .exit = 1},

    // ---- patterns ----
    // The until pattern of P works through its whole budget on each piece of
    // a's (past its first 500,000 steps at about a fifth of a processor,
    // half a second or more here); the healthy connection's atoms, handed out
    // once the first search has begun, complete and end the run before that
    // search gives up: the search holds up nothing but its own connection.
    // The warning comes once, though two pieces exhaust the budget.
    {.name = "APatternThatWorksThroughItsBudgetHoldsUpOnlyItsConnection",
     .servers = {aLineForEachLine(), kEcho},
     .cmd = "!open {S1} as P wait 0\n!open {S2} as H wait 0\n!atom slow by P until /(a+)+[bc]/\ngo\nagain\n"
            "!end-atom\n",
     .out = {"[Atom Q => Connection H]", "!!quit\r\n",
             "Warning 35000: 正規表現の照合を 20000000 ステップで打ち切りました: '(a+)+[bc]'\n", nowhere("35000")},
     .steps = {{"S1:again\r\n", "in:!rcf healthy.vl\n"}},
     .setup = {{"healthy.vl", "!atom h1 by H\nh1 #END#\n!end-atom\n!atom h2 by H\nh2 #END#\n!end-atom\n"
                              "!atom Q after h1,h2 by H\n!!quit\n!end-atom\n"}},
     .timeoutMs = 120000},
    // A back reference inside the repetition it refers to once ended the
    // program with an internal error on "aaa"; now it is no further way.
    {.name = "ABackReferenceInItsOwnRepetitionIsNoMatch", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom R until /(a\\1?)*x/\naaa\n!end-atom\n!atom Q after R\n!!quit\n!end-atom\n",
     .out = {"aaa\r\n[send to C1] aaa\r\n", "[Atom Q => Connection C1]"}, .absent = {"Internal"},
     .steps = {{"out:[send to C1] aaa", "S1:x"}}},

    // ---- log files ----
    // The first file fails on its own opening event, the second on the first
    // piece received; each is reported once and closed, the third goes on.
    {.name = "ALogFileThatCannotBeWrittenIsClosedOnce", .servers = {ServerBehaviour::echoing("hi\r\n")},
     .cmd = "!olf /dev/full sys\n!olf ok.log sys cn\n!open {S1} wait 0\n!olf /dev/full cn xs\n!atom A\na #END#\n"
            "!end-atom\n!atom Q after A\n!!lc\n!!quit\n!end-atom\n",
     .out = {"!olf /dev/full sys\r\nログファイル「/dev/full」を開きました\r\n"
             "Error 17000: ログファイル「/dev/full」に書き込めません",
             "[Log file /dev/full closed for 0 connection(s)]\r\n!olf ok.log sys cn\r\n",
             "Error 17000: ログファイル「/dev/full」に書き込めません", "[Log file /dev/full closed for 1 connection(s)]\r\n",
             nowhere("書き込めません"), "[1] CONNECTION 'C1' -> {S1} [occupied] [logging]\r\n"},
     .seen = {{"ok.log",
               {event("Log file ok.log opened"), event("Log file /dev/full opened"), "[C1>]a #END#\r\n", "[C1<]",
                "a #END#\r\n", event("Atom A completed"), event("Exit Vesperline")}}}},
};
RUN_TABLE(Isolation, kIsolation);

// With too few descriptors for every connection, each open that finds none
// left is refused with one error that names the limit, and the atoms run on
// the connections that could be opened.
TEST(FileLimit, OpensBeyondTheLimitAreRefusedOneByOneAndTheOthersWork) {
    LoopbackServer server(kEcho);
    const int opens = 40;
    std::string cmd;
    for (int i = 0; i < opens; ++i) cmd += "!open " + server.address() + " wait 0\n";
    for (int i = 1; i <= 10; ++i) cmd += "!atom A" + std::to_string(i) + "\na #END#\n!end-atom\n";
    cmd += "!atom Q after A1,A2,A3,A4,A5,A6,A7,A8,A9,A10\n!!lc\n!!quit\n!end-atom\n";
    const RunResult r = runWithFileLimit(cmd, opens, 48).result;
    EXPECT_EQ(countOf(r.out, "[Atom A"), 10);
    EXPECT_NE(r.out.find("[Atom Q => "), std::string::npos);
}

}  // namespace
}  // namespace vltest
