// Telnet mode and line endings through the built program: a scripted daemon
// that withholds its prompt until its requests are answered, the answers on
// the wire, no negotiation byte on the console or in log files, markers cut by
// commands, IAC IAC both ways, the modes of -tn and !open, and the line
// endings of !open and !set-connection. Also a round trip with inetutils
// telnetd under socat where both are installed.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>

#include "tests/app/run_table.h"
#include "tests/support/telnet_daemon.h"

extern char** environ;

namespace vltest {
namespace {

using tn::cmd;

const ServerBehaviour kSilent = ServerBehaviour::greet("");
// What the daemon must receive first: ECHO and SGA accepted, TTYPE and NAWS refused.
const std::string kAnswers = cmd(tn::DO, tn::ECHO) + cmd(tn::DO, tn::SGA) + cmd(tn::WONT, tn::TTYPE) +
                             cmd(tn::WONT, tn::NAWS);
const std::string kQuitAfter = "!atom Q after ";  // + names + kQuit
const std::string kQuit = "\n!!lc\n!!quit\n!end-atom\n";

const Row kTelnet[] = {
    // The prompt comes only once every request has its answer; an out-of-range
    // -tn is reported and automatic mode stays.
    {.name = "ADaemonGetsItsAnswersAndAtomsCompleteOnItsPrompts", .servers = {telnetDaemon()},
     .cmd = "!olf log.txt cn\n!open {S1} wait 0\n", .args = {"-tn:5"},
     .out = {"Error 15000: too big option number: -tn:5: 5 > 2\n", "login: ", "[Atom user => Connection C1]",
             "root\r\nPassword: ", "[Atom pass => Connection C1]", "Last login: never\r\n$ ",
             "[1] CONNECTION 'C1' -> {S1} [occupied] [logging] [telnet]\r\n"},
     .absent = {"\xff", "\xfd", "\xfb"},
     .seen = {{"=S1", {kAnswers + "root\r\nsecret\r\n"}},
              {"log.txt", {nowhere("\xff"), "[C1<]login: ", "[C1>]root\r\n", "[C1<]root\r\nPassword: ",
                           "[C1>]secret\r\n", "[C1<]Last login: never\r\n$ "}}},
     .steps = {{"out:login: ", "in:!atom user until /Password: $/\nroot\n!end-atom\n"
                               "!atom pass after user until /\\$ $/\nsecret\n!end-atom\n" +
                               kQuitAfter + "pass" + kQuit}}},
    // -tn:0: every byte is data and nothing is answered, but telnet on !open
    // still speaks telnet.
    {.name = "RawForEveryConnectionUnlessOpenSaysTelnet", .servers = {telnetDaemon(), telnetDaemon()},
     .cmd = "!olf log.txt cn\n!open {S1} as R wait 0\n!open {S2} as T telnet wait 0\n", .args = {"-tn:0"},
     .out = {"[1] CONNECTION 'R' -> {S1} [ready] [logging]\r\n[2] CONNECTION 'T' -> {S2} [ready] [logging] [telnet]\r\n"},
     .seen = {{"=S1", {"hello\r\n"}}, {"=S2", {kAnswers}},
              {"log.txt", {anywhere("[R<]" + telnetDaemon().greeting), anywhere("[T<]login: "), "[R>]hello\r\n"}}},
     .steps = {{"log.txt:[R<]" + telnetDaemon().greeting}, {"out:login: ", "in:!lc\n!cc R\nhello\n"},
               {"S1:hello\r\n", "in:!q\n"}}},
    // A 0xFF ends the first piece (held back until the next byte tells), then
    // a NOP, a subnegotiation and an option request sit inside the marker.
    {.name = "AMarkerCutByCommandsCompletesItsAtom", .servers = {kSilent},
     .cmd = "!olf log.txt cn\n!open {S1} wait 0\n!atom A\ngo\n!end-atom\n" + kQuitAfter + "A" + kQuit,
     .out = {"[Atom Q => Connection C1]", "[1] CONNECTION 'C1' -> {S1} [occupied] [logging] [telnet]\r\n"},
     .absent = {"\xff"},
     .seen = {{"=S1", {"go\r\n" + cmd(tn::DO, tn::ECHO)}}, {"=log.txt", {"[C1>]go\r\n[C1<]#E[C1<]ND#"}}},
     .steps = {{"S1:go\r\n", "S1:#E\xff"},
               {"log.txt:[C1<]#E", "S1:\xf1N\xff\xfa\x18\x01\xff\xf0" "D\xff\xfb\x01#"}}},
    // A telnet connection (-tn:2) halves IAC IAC and doubles a sent 0xFF; a
    // raw one (raw on !open) passes both as they are. Log files hold the line's text.
    {.name = "IacIacBothWays", .servers = {ServerBehaviour::greet("a\xff\xff" "b\r\n")},
     .cmd = "!olf log.txt cn\n!open {S1} as T wait 0\n!send x\xffy\n!open {S1} as R raw wait 0\n!send x\xffy\n",
     .args = {"-tn:2"},
     .out = {"[1] CONNECTION 'T' -> {S1} [ready] [logging] [telnet]\r\n[2] CONNECTION 'R' -> {S1} [ready] [logging]\r\n"},
     .seen = {{"S1", {anywhere("x\xff\xffy\r\n"), anywhere("x\xffy\r\n")}},
              {"log.txt", {anywhere("[T<]a\xff" "b\r\n"), anywhere("[R<]a\xff\xff" "b\r\n"), anywhere("[T>]x\xffy\r\n"),
                           anywhere("[R>]x\xffy\r\n")}}},
     .steps = {{"log.txt:[T<]a"}, {"log.txt:[R<]a"}, {"S1:x\xffy\r\n", "in:!lc\n!q\n"}}},
    {.name = "LineEndingsReachTheServerAsSet", .servers = {kSilent, kSilent},
     .cmd = "!open {S1} as L eol lf wait 0\none\n!open {S2} as T telnet eol cr wait 0\nt1\n",
     .out = {"接続「L」の行末を cr に設定しました\r\n", "Error 10014: 'eol' のパラメータがありません\n",
             "Error 10047: 行末の指定「CRLF」は正しくありません (crlf, cr, lf のいずれか)\n",
             "Error 10005: 接続「nobody」が見つかりません\n",
             "[1] CONNECTION 'T' -> {S2} [ready] [telnet] [eol cr]\r\n[2] CONNECTION 'L' -> {S1} [ready] [eol cr]\r\n",
             "接続「L」の行末を crlf に設定しました\r\n",
             "[1] CONNECTION 'T' -> {S2} [ready] [telnet] [eol cr]\r\n[2] CONNECTION 'L' -> {S1} [ready]\r\n"},
     .seen = {{"=S1", {"one\ntwo\rthree\r\n"}}, {"=S2", {std::string("t1\r\0", 4)}}},
     .steps = {{"S2:t1\r"},
               {"S1:one\n", "in:!cc L\n!sc eol cr\n!sc eol\n!sc eol CRLF\n!sc nobody eol lf\ntwo\n!lc\n"},
               {"S1:two\r", "in:!sc L eol crlf\nthree\n"}, {"S1:three\r\n", "in:!lc\n!q\n"}}},
    // Both open all the same; the listing waits until both are connected.
    {.name = "LineEndingWordsOnOpen", .servers = {ServerBehaviour::greet("hi>")},
     .cmd = "!open {S1} as A wait 0 eol\n!open {S1} as B eol LF wait 0\n",
     .out = {"Error 10014: 'eol' のパラメータがありません\n",
             "Error 10047: 行末の指定「LF」は正しくありません (crlf, cr, lf のいずれか)\n",
             "[1] CONNECTION 'A' -> {S1} [ready]\r\n[2] CONNECTION 'B' -> {S1} [ready]\r\n"},
     .steps = {{"out#2:hi>", "in:!lc\n!q\n"}}},
};
RUN_TABLE(Telnet, kTelnet);

// The path of a program found in PATH or in the system folders, "" when none.
std::string findProgram(const std::string& name) {
    std::string path = getenv("PATH") ? getenv("PATH") : "";
    path += ":/usr/sbin:/sbin:/usr/libexec";
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find(':', at), path.size());
        const std::string candidate = path.substr(at, end - at) + "/" + name;
        if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate;
        at = end + 1;
    }
    return "";
}

// A real telnet daemon (inetutils telnetd running a shell on a
// pseudo-terminal) behind socat on a loopback port of the kernel's choice:
// the shell's prompt and output arrive, the atom completes on the output
// (not on the echo of its line), and neither console nor log holds a
// negotiation byte.
TEST(RealTelnetDaemon, RoundTrip) {
    const std::string socat = findProgram("socat");
    std::string telnetd = findProgram("in.telnetd");
    if (telnetd.empty()) telnetd = findProgram("telnetd");
    if (socat.empty() || telnetd.empty())
        GTEST_SKIP() << "inetutils telnetd and socat are needed for this test (apt-get install inetutils-telnetd socat)";

    TempDir dir;
    const std::string errors = dir.file("socat.err");
    const std::string exec = "EXEC:" + telnetd + " -h -E /bin/sh,nofork";
    const char* const argv[] = {socat.c_str(), "-d", "-d", "TCP-LISTEN:0,bind=127.0.0.1", exec.c_str(), nullptr};
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, socat.c_str(), &files, nullptr, const_cast<char* const*>(argv), environ);
    posix_spawn_file_actions_destroy(&files);
    ASSERT_EQ(spawned, 0);
    struct Reap {
        pid_t pid;
        ~Reap() {
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
        }
    } reap{pid};

    std::smatch m;
    const std::regex listening("listening on AF=2 127\\.0\\.0\\.1:(\\d+)");
    std::string log;
    ASSERT_TRUE(waitUntil([&] { return std::regex_search(log = readFile(errors), m, listening); }, 30000)) << log;
    const std::string address = "127.0.0.1:" + m[1].str();

    RunOptions o;
    o.workDir = dir.path();
    o.args = {dir.write("run.vl", "!olf log.txt cn\n!open " + address +
                                      " wait 0\n!atom A\necho \"#EN\"\"D#\"\n!end-atom\n"
                                      "!atom Q after A\n!!lc\n!!quit\n!end-atom\n"),
              "-v:0"};
    const RunResult r = runVesperline(o);
    ASSERT_FALSE(r.timedOut) << r.out;
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("echo \"#EN\"\"D#\"\r\n#END#\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[Atom Q => Connection C1]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-> " + address + " [occupied] [logging] [telnet]\r\n"), std::string::npos) << r.out;
    const std::string logged = readFile(dir.file("log.txt"));
    EXPECT_NE(logged.find("#END#\r\n"), std::string::npos) << logged;
    for (const std::string& text : {r.out, logged}) EXPECT_EQ(text.find('\xff'), std::string::npos) << text;
}

}  // namespace
}  // namespace vltest
