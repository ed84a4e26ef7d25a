// Programs as connections through the built program: shells on their own
// pseudo-terminals running atoms, the terminal they find, the line ending,
// how a program's end shows in the close notice and the log, programs that
// cannot start, many at once, the ssh command line (through a stand-in ssh on
// PATH, and through a real sshd where one is installed), and programs that
// refuse to end being hung up, terminated, killed and reaped.
#include "tests/app/run_table.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/support/process_runner.h"

namespace vltest {
namespace {

const std::string kQuitAfter = "!atom Q after ";  // + names + kQuit
const std::string kQuit = "\n!!quit\n!end-atom\n";
// A marker that the shell's output holds but the command line does not.
const std::string kMarkerLine = "echo \"#E\"\"ND#\"\n";

// A stand-in for the ssh client: shows its arguments, then is a shell.
const std::string kStandInSsh = "#!/bin/sh\nprintf '<%s>' \"$@\"; printf '\\n'\nexec /bin/sh\n";

std::string manyPrograms(int programs, int atoms) {
    std::string cmd = "!olf log.txt sys\n";
    for (int i = 0; i < programs; ++i) cmd += "!open exec:/bin/sh wait 0\n";
    std::string names;
    for (int i = 1; i <= atoms; ++i) {
        cmd += "!atom A" + std::to_string(i) + "\n" + kMarkerLine + "!end-atom\n";
        names.append(i > 1 ? ",A" : "A").append(std::to_string(i));
    }
    return cmd + kQuitAfter + names + "\n!!la" + kQuit;
}

const Row kPrograms[] = {
    // One shell completes on what its command prints (until), the other on
    // the default marker; both find a dumb 80 x 24 terminal that does not echo.
    {.name = "ShellsRunAtomsOnAnEchoedMarkerAndOnTheDefaultOne",
     .cmd = "!olf log.txt sys\n!open \"exec:/bin/sh -i\" as marker wait 0\n"
            "!atom A1 by C1 until /ok-42/\necho ok-$((40+2))\n!end-atom\n"
            "!atom A2 by marker\necho \"TERM=$TERM size=$(stty size) echo-off=$(stty -a | grep -c -- ' -echo ')\"\n" +
            kMarkerLine + "!end-atom\n" + kQuitAfter + "A1,A2\n!!lc" + kQuit,
     .args = {"-o:exec:/bin/sh", "-wo:0"},
     .out = {anywhere("ok-42\r\n"), anywhere("TERM=dumb size=24 80 echo-off=1\r\n"), anywhere("#END#\r\n"),
             "[Atom Q => Connection ",
             "~\\[1\\] CONNECTION 'C1' -> /bin/sh \\[(ready|occupied)\\] \\[logging\\] \\[eol cr\\]\r\n"
             "\\[2\\] CONNECTION 'marker' -> /bin/sh -i \\[(ready|occupied)\\] \\[logging\\] \\[eol cr\\]\r\n"},
     .seen = {{"log.txt",
               {anywhere("Atom A1 completed"), anywhere("Atom A2 completed"),
                anywhere("Connection C1 closed (signal 1, SIGHUP)]"),
                anywhere("Connection marker closed (signal 1, SIGHUP)]"), event("Exit Vesperline")}}}},
    // What the program reads: CR for Enter unless eol says otherwise (the
    // terminal in raw mode hands the bytes over as they come). The lines are
    // typed once the terminal is raw.
    {.name = "LinesEndWithCrUnlessEolSaysOtherwise",
     .cmd = "!open \"exec:sh -c \\\"stty raw; echo raw-$((1+1)); head -c 4 | od -An -c\\\"\" as cr wait 0\n"
            "!open \"exec:sh -c \\\"stty raw; echo raw-$((1+1)); head -c 5 | od -An -c\\\"\" as crlf eol crlf wait 0\n"
            "!open \"exec:sh -c \\\"stty raw; echo raw-$((1+1)); head -c 4 | od -An -c\\\"\" as lf eol lf wait 0\n",
     .out = {anywhere("a   b  \\r   c"), anywhere("a   b  \\r  \\n   c"), anywhere("a   b  \\n   c"),
             anywhere("[Connection cr closed (exit code 0)]"), anywhere("[Connection crlf closed (exit code 0)]"),
             anywhere("[Connection lf closed (exit code 0)]")},
     .steps = {{"out#3:raw-2", "in:!cc cr\nab\nc\n!cc crlf\nab\nc\n!cc lf\nab\nc\n"},
               {"out#3:closed (exit code 0)]", "in:!q\n"}}},
    {.name = "TheCloseSaysHowTheProgramEnded",
     .cmd = "!olf log.txt sys\n!open \"exec:sh -c \\\"echo started; exit 3\\\"\" as three wait 0\n"
            "!open exec:true as zero wait 0\n!open \"exec:sh -c \\\"kill -9 $$\\\"\" as killed wait 0\n"
            "!open \"exec:sh -c \\\"trap '' HUP; echo waiting; exec sleep 60\\\"\" as term wait 0\n"
            "!open exec:cat as cat wait 0\n",
     .out = {anywhere("[Connection three closed (exit code 3)]\r\n"), anywhere("[Connection zero closed (exit code 0)]\r\n"),
             anywhere("[Connection killed closed (signal 9, SIGKILL)]\r\n"),
             "[Connection term closed (signal 15, SIGTERM)]\r\n",
             "[Connection cat closed (signal 1, SIGHUP)]\r\n"},
     .seen = {{"log.txt",
               {anywhere("Connection three opened]"), anywhere("Connection three closed (exit code 3)]"),
                anywhere("Connection killed closed (signal 9, SIGKILL)]"),
                anywhere("Connection term closed (signal 15, SIGTERM)]"), event("Connection cat closed (signal 1, SIGHUP)"),
                event("Exit Vesperline")}}},
     .steps = {{"out:(exit code 3)"}, {"out:(exit code 0)"}, {"out:(signal 9, SIGKILL)"}, {"out:waiting", "in:!close term\n"},
               {"out:SIGTERM)]", "in:!q\n"}}},
    // Nothing is listed for a program that does not start; the lines that
    // waited for it are reported; targets that are not valid take no number.
    {.name = "AProgramThatCannotStartLeavesNoConnection",
     .cmd = "!open exec:no-such-program-vl as nf wait 0\n!open exec:./data.txt wait 0\n!open exec: wait 0\n"
            "!open \"exec:sh -c \\\"x\" wait 0\n!open ssh://-oProxyCommand=x wait 0\n!open ssh://h:99999 wait 0\n"
            "!open \"exec:sh -c \\\"echo cat-$((1+2)); exec cat\\\"\" wait 0\n",
     .out = {anywhere("Error 10070: プログラム「no-such-program-vl」を起動できません: No such file or directory\n"),
             anywhere("Error 10070: プログラム「./data.txt」を起動できません: Permission denied\n"),
             anywhere("Error 10071: 起動するプログラムが指定されていません: 'exec:'\n"),
             anywhere("Error 10012: 右側の「\"」がありません: \"x\n"),
             anywhere("Error 10072: SSH の接続先が正しくありません: 'ssh://-oProxyCommand=x'\n"),
             anywhere("Error 10044: ポート番号が正しくありません: 'h:99999'\n"),
             "[1] CONNECTION 'C3' -> sh -c \"echo cat-$((1+2)); exec cat\" [ready] [eol cr]\r\n"
             "1 個の接続があります\r\n"},
     .absent = {"[Connection nf closed", "[Connection C2 closed"},
     .steps = {{"out:No such file or directory"}, {"out:Permission denied"}, {"out:cat-3", "in:!lc\n!q\n"}},
     .exit = 1,  // connections could not be opened
     .setup = {{"data.txt", "not a program\n"}}},
    // ---- ssh ----
    {.name = "SshStartsTheSshCommandWithThePortAndTheDestinationLast",
     .cmd = "!open ssh://admin@10.0.0.5:2222 as r1 wait 0\n!open ssh://host.example as r2 wait 0\n"
            "!atom A1 by r1\n" + kMarkerLine + "!end-atom\n" + kQuitAfter + "A1\n!!lc" + kQuit,
     .out = {anywhere("<-tt><-p><2222><admin@10.0.0.5>\r\n"), anywhere("<-tt><host.example>\r\n"), anywhere("#END#\r\n"),
             "[1] CONNECTION 'r1' -> ssh -tt -p 2222 admin@10.0.0.5 [", "[2] CONNECTION 'r2' -> ssh -tt host.example ["},
     .setup = {{"ssh", kStandInSsh}}, .env = {"PATH={D}:/usr/bin:/bin"}},
    // The ssh command of -ssh (its quotes left by no shell), and -o.
    {.name = "SshCommandOfTheOption",
     .args = {"-ssh:\"ssh -tt -o BatchMode=yes\"", "-o:ssh://u@h:22", "-wo:0"},
     .out = {"<-tt><-o><BatchMode=yes><-p><22><u@h>\r\n"},
     .steps = {{"out:<u@h>", "in:!q\n"}}, .setup = {{"ssh", kStandInSsh}}, .env = {"PATH={D}:/usr/bin:/bin"}},
};
RUN_TABLE(Programs, kPrograms);

// Fifty shells at once run a hundred atoms, and the end of the run closes them all.
TEST(ProgramEnd, FiftyProgramsAtOnce) {
    TempDir dir;
    dir.write("run.vl", manyPrograms(50, 100));
    RunOptions o;
    o.workDir = dir.path();
    o.args = {"run.vl", "-v:0"};
    const RunResult r = runVesperline(o);
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(countOf(r.out, "Error"), 0) << r.out;
    EXPECT_EQ(countOf(r.out, "0 個のアトムが待機中です\r\n完了したアトム: "), 1) << r.out;
    EXPECT_EQ(countOf(r.out, " closed (signal 1, SIGHUP)]\r\n"), 50) << r.out;
    const std::string log = readFile(dir.file("log.txt"));
    for (int i = 1; i <= 100; ++i)
        EXPECT_EQ(countOf(log, "  Atom A" + std::to_string(i) + " completed]"), 1) << i;
    EXPECT_EQ(countOf(log, " closed (signal 1, SIGHUP)]"), 50);
}

// With too few descriptors for every program, each open that finds none left
// is refused with one error that names the limit, and the atoms run on the
// programs that could be started.
TEST(ProgramEnd, ProgramsBeyondTheFileLimitAreRefusedOneByOne) {
    const int opens = 40;
    std::string cmd;
    for (int i = 0; i < opens; ++i) cmd += "!open exec:/bin/sh wait 0\n";
    std::string names;
    for (int i = 1; i <= 10; ++i) {
        cmd += "!atom A" + std::to_string(i) + "\n" + kMarkerLine + "!end-atom\n";
        names.append(i > 1 ? ",A" : "A").append(std::to_string(i));
    }
    cmd += kQuitAfter + names + "\n!!lc" + kQuit;
    const auto [r, opened] = runWithFileLimit(cmd, opens, 48);
    EXPECT_EQ(countOf(r.out, "[Atom A"), 10);
    EXPECT_EQ(countOf(r.out, " closed (signal 1, SIGHUP)]"), opened) << r.out;
}

// Started with SIGCHLD ignored (inherited from whoever started it), the
// program still learns how its programs ended.
TEST(ProgramEnd, AnIgnoredChildSignalInheritedLosesNoExitStatus) {
    TempDir dir;
    dir.write("run.vl", "!open \"exec:sh -c \\\"exit 3\\\"\" as three wait 0\n!open exec:cat as cat wait 0\n");
    RunOptions o;
    o.workDir = dir.path();
    o.args = {"run.vl", "-v:0"};
    o.childSignalIgnored = true;
    o.live = std::make_shared<LiveIo>();
    RunResult r;
    std::thread program([&] { r = runVesperline(o); });
    EXPECT_TRUE(waitUntil([&] { return countOf(o.live->output(), "[Connection three closed") > 0; }))
        << o.live->output();
    o.live->type("!q\n");
    program.join();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("[Connection three closed (exit code 3)]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[Connection cat closed (signal 1, SIGHUP)]"), std::string::npos) << r.out;
}

bool processGone(int pid) { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }

// A process that no longer runs: gone, or a zombie that is not ours to reap.
bool processEnded(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), {});
    const size_t paren = all.rfind(')');
    return all.empty() || (paren != std::string::npos && all.size() > paren + 2 && all[paren + 2] == 'Z');
}

int pidIn(const TempDir& dir, const std::string& name) {
    const std::string text = readFile(dir.file(name));
    return text.empty() ? -1 : std::stoi(text);
}

// A program that ignores the hang-up and SIGTERM is killed 3 s after !close
// (and another one at the end of the run); each is reaped, so none is left
// a zombie, and the child it started in its process group ends with it, also
// the child of a program that has ended already.
TEST(ProgramEnd, ProgramsThatIgnoreHangUpAndTermAreKilledAndReaped) {
    TempDir dir;
    const std::string stubborn = "trap '' HUP TERM; echo $$ > NAME.pid; sleep 1000 & echo $! > NAME.child; echo NAME-up; wait";
    auto open = [&](const std::string& name) {
        std::string script = stubborn;
        for (size_t at; (at = script.find("NAME")) != std::string::npos;) script.replace(at, 4, name);
        return "!open \"exec:sh -c \\\"" + script + "\\\"\" as " + name + " wait 0\n";
    };
    // The leftover program ends at once but leaves a child on its terminal,
    // which keeps the connection open until the end of the run hangs it up.
    dir.write("run.vl", open("first") + open("second") +
                            "!open \"exec:sh -c \\\"echo $$ > self.pid; exit 3\\\"\" as self wait 0\n"
                            "!open \"exec:sh -c \\\"sleep 1000 & echo $! > left.child; echo left-up\\\"\" as left wait 0\n");
    RunOptions o;
    o.workDir = dir.path();
    o.args = {"run.vl", "-v:0"};
    o.live = std::make_shared<LiveIo>();
    RunResult r;
    std::thread program([&] { r = runVesperline(o); });
    const bool up = waitUntil([&] {
        const std::string out = o.live->output();
        return countOf(out, "first-up") > 0 && countOf(out, "second-up") > 0 && countOf(out, "(exit code 3)") > 0 &&
               countOf(out, "left-up") > 0;
    });
    EXPECT_TRUE(up) << o.live->output();
    const int self = pidIn(dir, "self.pid");
    EXPECT_TRUE(waitUntil([&] { return processGone(self); }, 5000)) << "the program that ended is still there: " << self;

    const int64_t closed = monoMs();
    o.live->type("!close first\n");
    const bool killed = waitUntil([&] { return countOf(o.live->output(), "[Connection first closed (signal 9, SIGKILL)]") > 0; });
    const int64_t tookMs = monoMs() - closed;
    EXPECT_TRUE(killed) << o.live->output();
    // SIGKILL comes 3 s after the hang-up, not before.
    EXPECT_GE(tookMs, 2900);
    EXPECT_LT(tookMs, 15000);
    EXPECT_TRUE(processGone(pidIn(dir, "first.pid"))) << "not reaped";
    EXPECT_TRUE(waitUntil([&] { return processEnded(pidIn(dir, "first.child")); }, 5000)) << "its child still runs";
    // The second is still there, and the list shows it alone.
    EXPECT_FALSE(processEnded(pidIn(dir, "second.pid")));

    o.live->type("!q\n");
    program.join();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("[Connection second closed (signal 9, SIGKILL)]"), std::string::npos) << r.out;
    EXPECT_TRUE(processGone(pidIn(dir, "second.pid")));
    EXPECT_TRUE(waitUntil([&] { return processEnded(pidIn(dir, "second.child")); }, 5000));
    EXPECT_NE(r.out.find("[Connection left closed (exit code 0)]"), std::string::npos) << r.out;
    EXPECT_TRUE(waitUntil([&] { return processEnded(pidIn(dir, "left.child")); }, 5000)) << "left behind";
}

// A real round trip through sshd, where it is installed: the test starts it
// for each connection on a loopback port of its own (sshd -i on an accepted
// socket), with host and user keys made in a temporary folder.
TEST(ProgramEnd, SshRoundTripToARealSshd) {
    const char* const needed[] = {"/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen"};
    for (const char* path : needed)
        if (access(path, X_OK) != 0) GTEST_SKIP() << path << " is not installed: no round trip to a real sshd";
    if (geteuid() == 0 && !std::filesystem::is_directory("/run/sshd"))
        GTEST_SKIP() << "/run/sshd (the privilege separation folder sshd needs when run as root) is missing";
    TempDir dir;
    const std::string keygen = "ssh-keygen -q -t ed25519 -N '' -f ";
    ASSERT_EQ(system((keygen + dir.file("host_key") + " && " + keygen + dir.file("user_key") + " && cp " +
                      dir.file("user_key.pub") + " " + dir.file("authorized_keys") + " && chmod 600 " +
                      dir.file("authorized_keys"))
                         .c_str()),
              0);
    dir.write("sshd_config", "HostKey " + dir.file("host_key") + "\nAuthorizedKeysFile " + dir.file("authorized_keys") +
                                 "\nStrictModes no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                                 "PermitRootLogin prohibit-password\nUsePAM no\nPidFile none\n");
    // One sshd -i per accepted connection, as inetd would start it.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&sa), &len), 0);
    const int port = ntohs(sa.sin_port);
    std::thread acceptor([&] {
        const int peer = accept(listener, nullptr, nullptr);
        if (peer < 0) return;
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(peer, 0);
            dup2(peer, 1);
            const std::string config = dir.file("sshd_config");
            execl("/usr/sbin/sshd", "sshd", "-i", "-f", config.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(peer);
        if (pid > 0) waitpid(pid, nullptr, 0);
    });
    const passwd* me = getpwuid(geteuid());
    ASSERT_NE(me, nullptr);
    const std::string user = me->pw_name;
    dir.write("run.vl", "!open ssh://" + user + "@127.0.0.1:" + std::to_string(port) + " as real wait 0\n!atom A1 by real\n" +
                            "echo \"round-$((20+1))\"; " + kMarkerLine + "!end-atom\n" + kQuitAfter + "A1\n!!lc" + kQuit);
    RunOptions o;
    o.workDir = dir.path();
    o.args = {"run.vl", "-v:0",
              "-ssh:ssh -tt -o BatchMode=yes -o StrictHostKeyChecking=no -o UserKnownHostsFile=" + dir.file("known") +
                  " -o LogLevel=ERROR -F /dev/null -i " + dir.file("user_key")};
    o.timeoutMs = 60000;
    const RunResult r = runVesperline(o);
    shutdown(listener, SHUT_RDWR);
    close(listener);
    acceptor.join();
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("round-21\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[1] CONNECTION 'real' -> ssh -tt -o BatchMode=yes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("[Connection real closed ("), std::string::npos) << r.out;
}

}  // namespace
}  // namespace vltest
