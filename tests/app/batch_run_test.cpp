// Batches that end and say how they went, through the built program against
// loopback servers: atoms that fail (a reset, !ready, a time limit), retries,
// dependents that are skipped, the stuck head, -qd and the end of input, the
// exit status, the summary, the result file's lines and the terminal title.
#include <map>
#include <regex>
#include <sstream>

#include "tests/app/run_table.h"

namespace vltest {
namespace {

// One line of the result file: its fields, every value as its JSON text
// ("null", a number, or a string decoded from its escapes). The parser takes
// exactly the flat objects the file is made of and fails on anything else.
using JsonLine = std::map<std::string, std::string>;

bool parseJsonString(const std::string& s, size_t& i, std::string& out) {
    if (s[i] != '"') return false;
    for (++i; i < s.size() && s[i] != '"'; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20) return false;  // control bytes must be escaped
        if (c != '\\') {
            out.push_back(s[i]);
            continue;
        }
        const char e = s[++i];
        const std::string simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        if (simple.find(e) != std::string::npos) {
            out.push_back(meant[simple.find(e)]);
        } else if (e == 'u' && i + 4 < s.size()) {
            const unsigned code = static_cast<unsigned>(std::stoul(s.substr(i + 1, 4), nullptr, 16));
            if (code >= 0x80) return false;  // the file escapes only control bytes
            out.push_back(static_cast<char>(code));
            i += 4;
        } else {
            return false;
        }
    }
    return i++ < s.size();
}

bool parseJsonLine(const std::string& s, JsonLine& fields) {
    size_t i = 0;
    if (s.empty() || s[i++] != '{') return false;
    while (i < s.size()) {
        std::string key, value;
        if (!parseJsonString(s, i, key) || s[i++] != ':') return false;
        if (s[i] == '"') {
            if (!parseJsonString(s, i, value)) return false;
        } else {
            const size_t end = s.find_first_of(",}", i);
            value = s.substr(i, end - i);
            i = end;
            if (value != "null" && !std::regex_match(value, std::regex(R"(-?\d+(\.\d+)?)"))) return false;
        }
        fields[key] = value;
        if (s[i] == '}') return i + 1 == s.size();
        if (s[i++] != ',') return false;
    }
    return false;
}

// Every line of the file parsed; a line that is no such object fails the test.
std::vector<JsonLine> jsonLines(const std::string& path) {
    std::vector<JsonLine> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        JsonLine fields;
        EXPECT_TRUE(parseJsonLine(line, fields)) << line;
        lines.push_back(fields);
    }
    return lines;
}

const std::string kIsoTime = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";

// The result file of a batch with every status. The first atom's name holds a
// double quote, a Shift-JIS character (ア) and a byte that is no character.
void checkResultFile(const std::string& folder) {
    const std::vector<JsonLine> lines = jsonLines(folder + "/result.json");
    ASSERT_EQ(lines.size(), 4u);
    const std::string quoted = "say \"hi\" \xE3\x82\xA2\xEF\xBF\xBD";
    const std::vector<JsonLine> want = {
        {{"atom", quoted}, {"connection", "R"}, {"status", "retried"}, {"reason", "connection closed"},
         {"attempt", "1"}},
        {{"atom", quoted}, {"connection", "E"}, {"status", "completed"}, {"reason", "null"}, {"attempt", "2"}},
        {{"atom", "T"}, {"connection", "E"}, {"status", "failed"}, {"reason", "no end marker after 1 s"},
         {"attempt", "1"}, {"bytes_received", "0"}},
        {{"atom", "K"}, {"connection", "null"}, {"address", "null"}, {"status", "skipped"}, {"reason", "T failed"},
         {"attempt", "1"}, {"started", "null"}, {"seconds", "null"}, {"bytes_received", "null"}},
    };
    const std::vector<std::string> every = {"atom",  "connection", "address", "status",  "reason",
                                            "attempt", "started", "ended", "seconds", "bytes_received"};
    for (size_t i = 0; i < lines.size(); ++i) {
        const JsonLine& got = lines[i];
        for (const std::string& key : every) EXPECT_EQ(got.count(key), 1u) << "line " << i << ": " << key;
        EXPECT_EQ(got.size(), every.size()) << "line " << i;
        for (const auto& [key, value] : want[i]) EXPECT_EQ(got.at(key), value) << "line " << i << ": " << key;
        EXPECT_TRUE(std::regex_match(got.at("ended"), std::regex(kIsoTime))) << got.at("ended");
        if (got.at("status") == "skipped") continue;
        EXPECT_TRUE(std::regex_match(got.at("address"), std::regex(R"(127\.0\.0\.1:\d+)"))) << got.at("address");
        EXPECT_TRUE(std::regex_match(got.at("started"), std::regex(kIsoTime))) << got.at("started");
        EXPECT_LE(got.at("started"), got.at("ended"));
    }
    EXPECT_GT(std::stoi(lines[1].at("bytes_received")), 0);  // its echo
    EXPECT_GE(std::stod(lines[2].at("seconds")), 1.0);        // its time limit
    EXPECT_LT(std::stod(lines[2].at("seconds")), 30.0);
}

const ServerBehaviour kEcho = ServerBehaviour::echoing(), kSilent = ServerBehaviour::greet("");

// The summary line of a run.
std::string summary(int completed, int failed, int skipped, int waiting) {
    return std::string("[")
        .append(std::to_string(completed)).append(" atoms completed, ")
        .append(std::to_string(failed)).append(" failed, ")
        .append(std::to_string(skipped)).append(" skipped, ")
        .append(std::to_string(waiting)).append(" still waiting]\r\n");
}

const Row kBatches[] = {
    // ---- outcomes ----
    {.name = "AResetMidAtomFailsItAndSkipsTheClosingAtom", .servers = {kSilent},
     .cmd = "!olf sys.log sys\n!qd\n!open {S1} wait 0\n!atom A\nwork\n!end-atom\n!atom Q after A\n!!quit 0\n!end-atom\n",
     .out = {"[Connection C1 closed]\r\n", "[Atom A failed on C1: connection closed]\r\n",
             "[Atom Q skipped: A failed]\r\n", summary(0, 1, 1, 0)},
     .absent = {"[Atom Q =>"},
     .seen = {{"sys.log",
               {event("Assigned atom A to connection C1"), event("Connection C1 closed"),
                event("Atom A failed on C1: connection closed"), event("Atom Q skipped: A failed"),
                event("0 atoms completed, 1 failed, 1 skipped, 0 still waiting"), event("Exit Vesperline")}}},
     .steps = {{"S1:work\r\n", "reset:S1"}}, .exit = 1},
    // The time limit starts once the lines are out; the marker after it
    // completes nothing, and the connection takes no atom until !ready.
    {.name = "ATimeoutOccupiesTheConnectionUntilReady", .servers = {kSilent},
     .cmd = "!ato 1\n!open {S1} wait 0\n!atom T\n!!rem first\nhang\n!end-atom\n!atom B timeout 0\nb\n!end-atom\n",
     .args = {"-qd"},
     .out = {"[Atom T => Connection C1]", "[Atom T failed on C1: no end marker after 1 s]\r\n[Connection C1 occupied]\r\n",
             "[1] CONNECTION 'C1' -> {S1} [occupied]\r\n", "[1] ATOM 'B' timeout 0\r\n",
             "失敗したアトム: T\r\n", "[Connection C1 ready]\r\n", "[Atom B => Connection C1]", summary(1, 1, 0, 0)},
     .absent = {"完了したアトム: T"},
     .steps = {{"out:[Connection C1 occupied]", "S1:late #END#\r\n"}, {"out:late #END#", "in:!lc\n!la\n!r\n"},
               {"S1:b\r\n", "S1:#END#\r\n"}},
     .exit = 1},
    // Limits pass in their own order, whatever the order of the attempts: the
    // later, shorter one first; the limit of an atom that completed is passed
    // over and never ends the next atom on its connection before its own.
    {.name = "TimeLimitsPassInTheirOwnOrder", .servers = {kEcho, kSilent},
     .cmd = "!open {S1} as E wait 0\n!open {S2} as S wait 0\n!atom quick by E timeout 1\nq #END#\n!end-atom\n"
            "!atom long by S timeout 3\nlong\n!end-atom\n!atom late after quick by E timeout 2\nlate\n!end-atom\n"
            "!atom short after long,late by S\n!end-atom\n",
     .args = {"-qd", "-rf:result.json"},
     .out = {"[Atom late failed on E: no end marker after 2 s]", "[Atom short skipped: late failed]",
             "[Atom long failed on S: no end marker after 3 s]", summary(1, 2, 1, 0)},
     .exit = 1,
     .check = [](const std::string& folder) {
         const std::vector<JsonLine> lines = jsonLines(folder + "/result.json");
         ASSERT_EQ(lines.size(), 4u);
         EXPECT_EQ(lines[1].at("atom"), "late");
         EXPECT_GE(std::stod(lines[1].at("seconds")), 1.9);  // its own limit, not quick's
         EXPECT_EQ(lines[3].at("atom"), "long");
         EXPECT_GE(std::stod(lines[3].at("seconds")), 2.9);
     }},
    // The second attempt runs on the other connection, which !ready gives to
    // the scheduler only then; the outcome is that of the last attempt.
    {.name = "ARetrySucceedsOnAnotherConnection", .servers = {kSilent, kEcho},
     .cmd = "!olf sys.log sys\n!open {S1} as A wait 0\n!open {S2} as B nr wait 0\n!atom R retry 2 by A,B\nr #END#\n"
            "!end-atom\n!atom S after R\ns #END#\n!end-atom\n",
     .args = {"-qd"},
     .out = {"[Atom R => Connection A]", "[Atom R failed on A: connection closed]\r\n",
             "[Atom R queued again (1 of 2)]\r\n", "[Connection B ready]\r\n", "[Atom R => Connection B]",
             "[Atom S => Connection B]", summary(2, 0, 0, 0)},
     .absent = {"失敗したアトム"},
     .seen = {{"sys.log", {event("Atom R failed on A: connection closed"), event("Atom R queued again (1 of 2)"),
                           event("Atom R completed")}}},
     .steps = {{"S1:r #END#\r\n", "reset:S1"}, {"out:queued again", "in:!ready B\n"}}},
    // !ready abandons an atom also while a !!wait holds its lines back.
    {.name = "ReadyAbandonsAnAtomHeldBackByItsWait", .servers = {kSilent},
     .cmd = "!open {S1} wait 0\n!atom W\n!!wait 30\nnever\n!end-atom\n",
     .out = {"!!wait 30\r\n", "[Connection C1 ready]\r\n[Atom W failed on C1: abandoned]\r\n", summary(0, 1, 0, 0)},
     .seen = {{"=S1", {""}}},
     .steps = {{"out:!!wait 30", "in:!ready\n!la\n"}, {"out:失敗したアトム: W", "in:!q\n"}}, .exit = 1},

    // ---- dependents and the stuck head ----
    // An atom behind a head that may not run still fails at once when what it
    // waits for has failed; the head is named once, when no line is pending.
    {.name = "ADependentBehindAStuckHeadIsSkipped", .servers = {kSilent},
     .cmd = "!open {S1} wait 0\n!atom A\na\n!end-atom\n!atom S by NOPE,C1X\ns\n!end-atom\n!atom D after A\nd\n!end-atom\n",
     .out = {"Warning 30010: アトム「S」を実行できる接続がありません: by NOPE,C1X\n",
             "[Atom A failed on C1: abandoned]\r\n", "[Atom D skipped: A failed]\r\n", "[1] ATOM 'S' by NOPE,C1X\r\n",
             "失敗したアトム: A,D\r\n", summary(0, 1, 1, 1)},
     .steps = {{"out:30010", "in:!ready C1\n"}, {"out:skipped", "in:!la\n!q\n"}}, .exit = 1},
    {.name = "TheStuckHeadIsNamedOnceAndOnlyWhenNoLineIsPending", .servers = {kEcho},
     .cmd = "!atom early by C2\ne #END#\n!end-atom\n!open {S1} as C2 wait 0\n!atom H by NOPE\nh\n!end-atom\n"
            "!atom X except-by C2\nx\n!end-atom\n",
     .out = {"[Atom early => Connection C2]", "Warning 30010: アトム「H」を実行できる接続がありません: by NOPE\n",
             "1 個の接続があります\r\n", nowhere("「H」"), "1 個のアトムを削除しました\r\n",
             "Warning 30010: アトム「X」を実行できる接続がありません: except-by C2\n"},
     .absent = {"「early」"},
     .steps = {{"out:30010", "in:!lc\n"}, {"out:個の接続があります", "in:!da H\n"}, {"out:「X」", "in:!q\n"}}},

    // ---- ending and the exit status ----
    {.name = "QuitWhenDoneEndsACleanBatchWithZero", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A\na #END#\n!end-atom\n!atom B after A\nb #END#\n!end-atom\n", .args = {"-qd"},
     .out = {"[Atom B => Connection C1]", summary(2, 0, 0, 0)}},
    {.name = "EndOfInputWithNothingOpenEndsTheRun", .input = "!la\n", .out = {"0 個のアトムが待機中です\r\n"}},
    {.name = "EndOfInputWithAnAtomThatCanNeverRun", .cmd = "!atom A\na\n!end-atom\n",
     .out = {"Warning 30011: 実行できないアトムが 1 個残ったまま終了します\n"}, .absent = {"atoms completed"}, .exit = 1},
    // -qd ends a run whose waiting atoms no connection will take once input has ended.
    {.name = "QuitWhenDoneWithAnAtomNoOpenConnectionTakes", .servers = {kSilent},
     .cmd = "!open {S1} nr wait 0\n!atom A\na\n!end-atom\n", .args = {"-qd"},
     .out = {"Warning 30011: 実行できないアトムが 1 個残ったまま終了します\n"}, .exit = 1},
    {.name = "QuitWithACodeWinsOverFailures", .cmd = "!rcf missing.vl\n!quit 7\n", .exit = 7},
    {.name = "QuitWithACodeOutOfRangeIsReported", .cmd = "!quit 256\n",
     .out = {"Error 10013: 数値が正しくありません: 256\n"}},
    {.name = "QuitInsideAnAtomWithACode", .servers = {kEcho}, .cmd = "!open {S1} wait 0\n!atom A\n!!q 3\n!end-atom\n",
     .exit = 3},
    {.name = "AMissingCommandFileAtStart", .cmd = "!rem here\n", .input = "!q\n", .args = {"nope.vl"},
     .out = {"Error 17000: nope.vl を開けません"}, .exit = 1},
    {.name = "AConnectThatIsRefused", .input = "!open {R} wait 0\n", .out = {"Connection refused"}, .exit = 1},
    // Atoms still running at the end are not failed by the closing connections.
    {.name = "AtomsRunningAtQuitAreStillWaiting", .servers = {kEcho, kSilent},
     .cmd = "!open {S1} wait 0\n!open {S2} wait 0\n!atom A by C1\na #END#\n!end-atom\n!atom B after A by C2\nb\n"
            "!end-atom\n!atom C after A by C2\nc\n!end-atom\n",
     .out = {summary(1, 0, 0, 2), "[Connection C"}, .absent = {"failed on"}, .steps = {{"S2:b\r\n", "in:!q\n"}}},

    // ---- keywords ----
    {.name = "TimeoutAndRetryKeywords",
     .cmd = "!atom X timeout 5 retry 2 by C1\n!atom Y retry\n!atom Z timeout -1\n!la\n!ato -3\n!ato 2\n!ato\n!q\n",
     .out = {"Error 10014: 'retry' のパラメータがありません\n", "Error 10013: 数値が正しくありません: -1\n",
             "[1] ATOM 'X' by C1 timeout 5 retry 2\r\n[2] ATOM 'Y'\r\n[3] ATOM 'Z' [open]\r\n",
             "!ato -3\r\nError 10013: 数値が正しくありません: -3\n!ato 2\r\n!ato\r\n!q\r\n"}},

    // ---- the result file ----
    {.name = "TheResultFileHasOneJsonLinePerAttempt", .servers = {kSilent, kEcho},
     .cmd = "!open {S1} as R wait 0\n!open {S2} as E nr wait 0\n"
            "!atom \"say \\\"hi\\\" \x83\x41\xFF\" retry 1 by R,E\nx #END#\n!end-atom\n"
            "!atom T by E timeout 1\n!end-atom\n!atom K after T\nk\n!end-atom\n",
     .args = {"-qd", "-chrset:1", "-rf:result.json"},
     .out = {"queued again (1 of 1)]", "[Atom T failed on E: no end marker after 1 s]", "[Atom K skipped: T failed]",
             summary(1, 1, 1, 0)},
     .steps = {{"S1:x #END#\r\n", "reset:S1"}, {"out:queued again", "in:!ready E\n"}}, .exit = 1,
     .check = checkResultFile},
    {.name = "AResultFileThatCannotBeOpenedStopsTheRun", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\nnever sent\n", .args = {"-rf:no-such-folder/r.json"},
     .out = {"Error 17000: no-such-folder/r.json を開けません"}, .absent = {"!open"},
     .seen = {{"=S1", {""}}}, .exit = 1},
    {.name = "AResultFileThatCannotBeWrittenIsReportedOnce", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A\na #END#\n!end-atom\n!atom B after A\nb #END#\n!end-atom\n",
     .args = {"-qd", "-rf:/dev/full"},
     .out = {anywhere(summary(2, 0, 0, 0)), "Error 10051: 結果ファイル「/dev/full」に書き込めません: No space left on device\n",
             nowhere("10051")},
     .exit = 1},

    // ---- the terminal title ----
    {.name = "TheTitleShowsProgressOnATerminal", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A\na #END#\n!end-atom\n!atom B\nb #END#\n!end-atom\n", .args = {"-qd"},
     .out = {"~\\x1b\\[22;0t\\x1b\\]0;vesperline: 0/[12] done, 0 failed, 1 running\\x07", "~\\x1b\\[23;0t"},
     .absent = {"\x1b]0;vesperline: 0/0"}, .terminal = true},
    {.name = "NoTitleThroughAPipe", .servers = {kEcho},
     .cmd = "!open {S1} wait 0\n!atom A\na #END#\n!end-atom\n", .args = {"-qd"}, .out = {summary(1, 0, 0, 0)},
     .absent = {"\x1b"}},
};
RUN_TABLE(Batches, kBatches);

}  // namespace
}  // namespace vltest
