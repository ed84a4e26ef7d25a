// Atoms and log files through the built program against loopback servers:
// defining, listing, moving and deleting atoms; the strict queue with after,
// by and except-by; completion on echoes, split markers and until patterns;
// close-on-ready, !ready, the deferred commands that reach the main loop; and
// what log files record. Most runs end through a last atom that holds !!quit.
#include "tests/app/run_table.h"

namespace vltest {
namespace {

const ServerBehaviour kEcho = ServerBehaviour::echoing(), kSilent = ServerBehaviour::greet("");
const std::string kQuitAfter = "!atom Q after ";  // + names + kQuit
const std::string kQuit = "\n!!quit\n!end-atom\n";

const Row kAtoms[] = {
    // ---- defining, listing, moving, deleting ----
    {.name = "DefineListMoveAndDelete",
     .cmd = "!olf sys.log sys\n!atom\nhello\n!!rem deferred\n!end-atom\n!la d\n!end-atom\n"
            "!atom X after A1, B by C1 except-by C2 until /x/\n!atom Y\n!la\n!sa Y order 0\nlater\n!sa X order -5\n"
            "!sa A1 order 99\n!la d\n!sa nope order 1\n!atom Z after\n!atom W junk more\n!da A1, nope\n!da\n!la\n"
            "!end-atom\n!q\n",
     .out = {"!olf sys.log sys\r\nログファイル「sys.log」を開きました\r\n"
             "!atom\r\n[Register in A1] hello\r\n[Register in A1] !!rem deferred\r\n!end-atom\r\n"
             "!la d\r\n[1] ATOM 'A1'\r\n    hello\r\n    !!rem deferred\r\n1 個のアトムが待機中です\r\n"
             "!end-atom\r\nError 10017: 入力受付中のアトムがありません\n"
             "!atom X after A1, B by C1 except-by C2 until /x/\r\n!atom Y\r\n"
             "!la\r\n[1] ATOM 'A1'\r\n[2] ATOM 'X' after A1,B by C1 except-by C2\r\n[3] ATOM 'Y' [open]\r\n"
             "3 個のアトムが待機中です\r\n"
             // The open atom keeps its lines wherever it is moved.
             "!sa Y order 0\r\nアトム「Y」を 1/3 番目に移動しました\r\n[Register in Y] later\r\n"
             "!sa X order -5\r\nアトム「X」を 1/3 番目に移動しました\r\n"
             "!sa A1 order 99\r\nアトム「A1」を 3/3 番目に移動しました\r\n"
             "!la d\r\n[1] ATOM 'X' after A1,B by C1 except-by C2\r\n[2] ATOM 'Y' [open]\r\n    later\r\n"
             "[3] ATOM 'A1'\r\n    hello\r\n    !!rem deferred\r\n3 個のアトムが待機中です\r\n"
             "!sa nope order 1\r\nError 10018: アトム「nope」が見つかりません\n"
             "!atom Z after\r\nError 10014: 'after' のパラメータがありません\n"
             "!atom W junk more\r\nWarning 30001: 行末の余計な記述を無視します: 'junk more'\n"
             "!da A1, nope\r\nError 10018: アトム「nope」が見つかりません\n1 個のアトムを削除しました\r\n"
             "!da\r\n4 個のアトムを削除しました\r\n!la\r\n0 個のアトムが待機中です\r\n"
             "!end-atom\r\nError 10017: 入力受付中のアトムがありません\n!q\r\n"},
     .seen = {{"sys.log",
              {event("Log file sys.log opened"), event("Atom A1 defined"), event("Atom X defined"),
              event("Atom Y defined"), event("Atom Z defined"), event("Delete atom A1"), event("1 atom(s) deleted"),
              event("4 atom(s) deleted"), event("Exit Vesperline")}}}, .whole = true},
    {.name = "TypedLinesGoIntoTheOpenAtomWhileTypedCommandsRun", .input = "!atom T\nhello\n!la d\n!end-atom\n!q\n",
     .out = {"[Register in T] hello\r\n[1] ATOM 'T' [open]\r\n    hello\r\n1 個のアトムが待機中です\r\n"}, .whole = true},

    // ---- the queue ----
    // The atoms come once both connections are connected (their greetings).
    {.name = "QueueOrderListOrderAndNamesThatRepeat", .servers = {ServerBehaviour::echoing("hi>")},
     .cmd = "!olf sys.log sys\n!open {S1} wait 0\n!open {S1} wait 0\n",
     .out = {"[Atom first => Connection C1]", "[Atom A1 => Connection C1]", "[Atom A2 => Connection C1]",
             "[Atom A3 => Connection C1]", "[Atom twin => Connection C2]", "[Atom twin => Connection C",
             "Error 10018: 完了したアトム「B」が見つかりません\n1 個の完了アトムを削除しました\r\n",
             "完了したアトム: first,A2,A3,twin\r\n"},
     .seen = {{"S1", {"first #END#\r\n", "a1 #END#\r\n", "a2 #END#\r\n", "a3 #END#\r\n"}},
              {"sys.log",
              {event("Atom first completed"), event("Assigned atom A1 to connection C1"), event("Atom A1 completed"),
              event("Assigned atom A2 to connection C1"), event("Atom A2 completed")}}},
     .steps = {{"out#2:hi>", "in:!rcf rest.vl\n"}},
     .setup = {{"rest.vl", "!atom first\nfirst #END#\n!end-atom\n!atom A1 by C1\na1 #END#\n!end-atom\n!atom A2 by C1\n"
                           "a2 #END#\n!end-atom\n!atom A3 by C1\na3 #END#\n!end-atom\n!atom twin after A3 except-by C1\n"
                           "t1 #END#\n!end-atom\n!atom twin after A3\nt2 #END#\n!end-atom\n" + kQuitAfter +
                           "twin\n!!delete-completed-atom A1, B\n!!list-atom" + kQuit}}},
    {.name = "AfterHoldsUpNothingWhileAnAtomNoConnectionMayTakeHoldsUpEverything", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A1 by NOPE\na1\n!end-atom\n!atom A2\na2 #END#\n!end-atom\n!la\n!da A1\n"
            "!atom B1 after ZZZ\nb1\n!end-atom\n!atom B2\nb2 #END#\n!end-atom\n" + kQuitAfter + "B2\n!!la" + kQuit,
     .out = {"!la\r\n[1] ATOM 'A1' by NOPE\r\n[2] ATOM 'A2'\r\n2 個のアトムが待機中です\r\n!da A1\r\n",
             "[Atom A2 => Connection C1]", "[Atom B2 => Connection C1]", "[Atom Q => Connection C1]",
             "[1] ATOM 'B1' after ZZZ\r\n1 個のアトムが待機中です\r\n", "完了したアトム: A2,B2\r\n"},
     .seen = {{"=S1", {"a2 #END#\r\nb2 #END#\r\n"}}}},
    {.name = "AnAtomAfterAnotherWaitsBesideOneOnTheOtherConnection",
     .servers = {ServerBehaviour::greet("s1>"), ServerBehaviour::greet("s2>")},
     .cmd = "!open {S1} wait 0\n!open {S2} wait 0\n",
     .out = {"[Atom A1 => Connection C1]", "[Atom A3 => Connection C2]", "[Atom A2 => Connection C1]",
             "[Atom Q => Connection C"}, .seen = {{"=S1", {"one\r\ntwo\r\n"}}},
     .steps = {{"out:s1>"}, {"out:s2>", "in:!rcf rest.vl\n"}, {"S2:three\r\n"}, {"S1:one\r\n", "S1:#END#"},
               {"S1:two\r\n", "S2:#END#"}, {"S1:two\r\n", "S1:#END#"}},
     .setup = {{"rest.vl", "!atom A1\none\n!end-atom\n!atom A2 after A1\ntwo\n!end-atom\n!atom A3\nthree\n!end-atom\n" +
                           kQuitAfter + "A2,A3" + kQuit}}},

    // ---- completion ----
    // A repetition whose way changes when replayed is answered; a search that
    // uses up its steps is no match and warns once, and the program goes on.
    {.name = "PatternsThatBacktrackWithoutEndAreAnswered", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom P until /(a\\1?)*x/\naaa\naaax\n!end-atom\n!atom R after P until /(a+)+b/\n" +
            std::string(30, 'a') + " b\n!end-atom\n",
     .args = {"-rxsteps:100000"},
     .out = {"[Atom P => Connection C1]", "[Atom R => Connection C1]",
             "Warning 35000: 正規表現の照合を 100000 ステップで打ち切りました: '(a+)+b'\n", "実行中のアトム: R\r\n"},
     .absent = {"ステップで打ち切りました: '(a\\1?)*x'"},
     .steps = {{"out:ステップで打ち切りました", "S1:aaaa zz\r\n"}, {"out:aaaa zz", "in:!la\n!q\n"}}},
    {.name = "NoEndMarkerThenOneThatAppliesToTheRunningAtom", .servers = {kEcho},
     .cmd = "!olf cn.log cn\n!open {S1} wait 0\n!aem\n!atom A\na #END#\n!end-atom\n" + kQuitAfter + "A" + kQuit,
     .out = {"1 個のアトムが待機中です\r\n実行中のアトム: A\r\n", "[Atom Q => Connection C1]"},
     .steps = {{"cn.log:[C1<]a #END#", "in:!la d\n!aem /#DONE\\/#/\n"}, {"out:実行中のアトム", "S1:#DONE/#"}}},
    {.name = "MarkerSplitBetweenTwoPiecesCompletesTheAtom", .servers = {kSilent},
     .cmd = "!olf cn.log cn\n!open {S1} wait 0\n!atom A1\ngo\n!end-atom\n" + kQuitAfter + "A1" + kQuit,
     .out = {"[Atom Q => Connection C1]"}, .seen = {{"cn.log", {"[C1>]go\r\n[C1<]#EN[C1<]D#"}}},
     .steps = {{"S1:go\r\n", "S1:#EN"}, {"cn.log:[C1<]#EN", "S1:D#"}}},
    {.name = "UntilStaysInForceForTheNextAtomOnTheConnection", .servers = {kSilent},
     .cmd = "!olf all.log cn sys\n!open {S1} wait 0\n!atom U until /prompt>/\nu\n!end-atom\n!atom V\nv\n!end-atom\n" +
            kQuitAfter + "V" + kQuit,
     .seen = {{"all.log",
              {"[C1<]#END#", "[C1<]prompt>", event("Atom U completed"), "[C1>]v\r\n[C1<]#END#", "[C1<]prompt>",
              event("Atom V completed")}}},
     .steps = {{"S1:u\r\n", "S1:#END#\r\n"}, {"all.log:[C1<]#END#", "S1:prompt>"}, {"S1:v\r\n", "S1:#END#\r\n"},
               {"all.log:[C1>]v\r\n[C1<]#END#", "S1:prompt>"}}},
    {.name = "AtomWithoutLinesOccupiesItsConnectionUntilTheMarker", .servers = {kSilent},
     .cmd = "!olf sys.log sys\n!open {S1} wait 0\n!atom E\n!end-atom\n!atom F\nf\n!end-atom\n" + kQuitAfter + "F" +
            kQuit,
     .seen = {{"=S1", {"f\r\n"}}},
     .steps = {{"sys.log:Assigned atom E to connection C1", "S1:#END#"}, {"S1:f\r\n", "S1:#END#"}}},

    // ---- close-on-ready and ready ----
    {.name = "TheMarkedConnectionClosesAfterItsAtomCompletes", .servers = {kEcho, kSilent},
     .cmd = "!open {S1} wait 0\n!open {S2} wait 0\n!atom A by C1\n!!close-on-ready\na #END#\n!end-atom\n"
            "!atom B after A by C2\nb\n!end-atom\n" + kQuitAfter + "B" + kQuit,
     .out = {"[Connection C1 closed]", "[Atom Q => Connection C2]", "[Connection C2 closed]"},
     .steps = {{"out:[Connection C1 closed]"}, {"S2:b\r\n", "S2:#END#"}}},
    {.name = "AMarkedRunningConnectionClosesWhenAnotherMarkedOneCompletes", .servers = {kSilent, kEcho, kSilent},
     .cmd = "!open {S1} wait 0\n!open {S2} wait 0\n!open {S3} wait 0\n!atom X by C1\n!!close-on-ready\nx\n!end-atom\n"
            "!atom Y by C2\n!!cor\ny #END#\n!end-atom\n!atom Z after Y by C3\nz\n!end-atom\n" + kQuitAfter + "Z" +
            kQuit,
     .out = {"[Connection C1 closed]", "[Atom X failed on C1: connection closed]", "[Atom Q => Connection C3]",
             "[Connection C3 closed]"},
     .steps = {{"out:[Connection C1 closed]"}, {"out:[Connection C2 closed]"}, {"S3:z\r\n", "S3:#END#"}},
     .exit = 1},
    {.name = "ReadyAbandonsTheRunningAtom", .servers = {kSilent},
     .cmd = "!open {S1} wait 0\n!atom R\nr\n!end-atom\n",
     .out = {"[Atom R => Connection C1]", "!ready C1\r\n", "[Connection C1 ready]\r\n[Atom R failed on C1: abandoned]\r\n",
             "[Atom Q => Connection C1]", "!!la\r\n0 個のアトムが待機中です\r\n失敗したアトム: R\r\n"},
     .absent = {"実行中のアトム", "完了したアトム"},
     .steps = {{"S1:r\r\n", "in:!rcf rest.vl\n"}}, .exit = 1,
     .setup = {{"rest.vl", "!ready C1\n!atom Q\n!!la" + kQuit}}},

    // ---- deferred commands that reach the main loop ----
    {.name = "MacroCallsAndCommandFilesInsideAnAtomJoinThePendingLines", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!macro m x\n!rem from macro ${x}\n!end-macro\n"
            "!atom A\n!!call-macro m hello\n!!read-command-file more.vl\na #END#\n!end-atom\n!wait 1\n!rem next\n"
            "!rem last\n",
     .out = {"[Atom A => Connection C1]", "!!call-macro m hello\r\n", "!rem from macro hello\r\n", "!rem next\r\n",
             "!rem last\r\n", "!rem from more\r\n", "!quit\r\n"}, .setup = {{"more.vl", "!rem from more\n!quit\n"}}},
    {.name = "QuitInsideAnAtomEndsTheRunAfterThePass", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A\n!!quit\nafter quit\n!end-atom\n!wait 20\n!rem never\n",
     .out = {"!!quit\r\n", "] after quit\r\n"}, .absent = {"!rem never"}},
    {.name = "DeletingTheMacroBeingRecordedEndsTheRecording", .servers = {kSilent},
     .cmd = "!open {S1} wait 0\n!atom A\ngo\n!end-atom\n!atom B after A\n!!dm live\n!end-atom\n!m live\n",
     .out = {"!!dm live\r\n1 個のマクロを削除しました\r\n0 個のマクロがあります\r\n"}, .absent = {"] !lm"},
     .steps = {{"S1:go\r\n", "S1:#END#"}, {"out:1 個のマクロを削除しました", "in:!rem after\n!lm\n!q\n"}}},

    // ---- log files ----
    {.name = "LogFilesMarksEventsAndLeftOutDirections", .servers = {kEcho},
     .cmd = "!olf cn.log cn\n!olf sys.log sys\n!olf xs.log xs\n!olf quiet.log xs xr sys\n!open {S1} wait 0\n"
            "!atom A1\nping #END#\n!end-atom\n" + kQuitAfter + "A1\n!!list-connection" + kQuit,
     .out = {"[1] CONNECTION 'C1' -> {S1} [occupied] [logging to 4 files]\r\n"},
     .seen = {{"=cn.log", {"[C1>]ping #END#\r\n[C1<]ping #END#\r\n"}},
              {"=xs.log", {"ping #END#\r\n"}},
              {"sys.log",
               {nowhere("[C1"), anywhere("Connection C1 opened]"), anywhere("Atom Q defined]"),
                event("Log file sys.log opened"), event("Log file xs.log opened"), event("Log file quiet.log opened"),
                event("Assigned atom A1 to connection C1"), "ping #END#\r\n", "ping #END#\r\n",
                event("Atom A1 completed"), event("Assigned atom Q to connection C1"), event("Connection C1 closed"),
                event("Exit Vesperline"), "~^$"}},
              {"quiet.log",
               {nowhere("ping"), event("Log file quiet.log opened"), event("Atom A1 completed"),
                event("Exit Vesperline")}}}},
    {.name = "AFileForAConnectionOpenedLater", .servers = {ServerBehaviour::echoing("hi>")},
     .cmd = "!olf c2.log for C2 cn\n!open {S1} wait 0\n!open {S1} wait 0\n",
     .out = {"ログファイル「c2.log」を 0 個の接続に対して設定しました\r\n", "[1] CONNECTION 'C1' -> {S1} [ready]\r\n"
             "[2] CONNECTION 'C2' -> {S1} [ready] [logging]\r\n"},
     .seen = {{"=c2.log", {"[C2<]hi>[C2>]two #END#\r\n[C2<]two #END#\r\n"}}},
     .steps = {{"out#2:hi>", "in:!rcf rest.vl\n"}},
     .setup = {{"rest.vl", "!lc\n!atom A by C1\none #END#\n!end-atom\n!atom B by C2\ntwo #END#\n!end-atom\n" +
                           kQuitAfter + "A,B" + kQuit}}},
    {.name = "OpenAndCloseLogFilesByPath", .servers = {kSilent},
     .cmd = "!clf\n!olf\n!open {S1} wait 0\n!olf a.log\n!olf b.log cn bogus\n!olf c.log for\n!clf\n!clf A.LOG\n"
            "!clf nope.log\n!clf C.log\n!clf\n!olf no-such-folder/x.log\n!clf\n!q\n",
     .out = {"!clf\r\nError 10028: 開いているログファイルはありません\n",
             "!olf\r\nError 10019: ログファイルのパスを指定してください\n",
             "!olf a.log\r\nログファイル「a.log」を開きました\r\n",
             "!olf b.log cn bogus\r\nWarning 30001: 行末の余計な記述を無視します: 'bogus'\nログファイル「b.log」を開きました\r\n",
             "!olf c.log for\r\nError 10014: '!open-log-file' のパラメータがありません\nログファイル「c.log」を開きました\r\n",
             "!clf\r\nError 10019: ログファイルのパスを指定してください\n",
             "!clf A.LOG\r\n[Log file A.LOG closed for 1 connection(s)]\r\n",
             "!clf nope.log\r\nError 10022: ログファイル「nope.log」が見つかりません\n",
             "!clf C.log\r\n[Log file C.log closed for 1 connection(s)]\r\n",
             "!clf\r\n[Log file b.log closed for 1 connection(s)]\r\n",
             "!olf no-such-folder/x.log\r\nError 17000: no-such-folder/x.log を開けません",
             "!clf\r\nError 10028: 開いているログファイルはありません\n"}},
};
RUN_TABLE(Atoms, kAtoms);

}  // namespace
}  // namespace vltest
