// Message reporting: kinds and formats, suffixes, positions, the message file,
// console levels, fatal exits, shutdown.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/lock.h"
#include "base/msg.h"
#include "base/stream.h"
#include "base_test_support.h"

namespace {

std::string captured(const std::function<void()>& run) {
    ::testing::internal::CaptureStdout();
    run();
    return ::testing::internal::GetCapturedStdout();
}

// A console sink with a message file.
std::unique_ptr<LStdoutMsg> fileSink(const std::string& path, int append = 0, int level = 0) {
    auto sink = std::make_unique<LStdoutMsg>();
    sink->msgFile = path.c_str();  // path outlives the sink in every test
    sink->msgFileAppend = append;
    sink->consoleLevel = level;
    return sink;
}

}  // namespace

TEST(Msg, FormatsByCodeWithAndWithoutPosition) {
    // position: "a.rsp" line 3 pushed; console: LStdoutMsg's output when it differs
    struct Case { int code; bool position; const char* base; const char* console = nullptr; };
    const Case cases[] = {
        {0, false, "Message 0: t", "t"},              {-3, false, "Message -3: t", "t"},
        {1, false, "Error 1: t\n"},                   {19999, false, "Error 19999: t\n"},
        {20000, false, "Warning 20000: t\n"},         {39998, false, "Warning 39998: t\n"},
        {39999, false, "Note 39999: t\n"},            {50000, false, "Note 50000: t\n"},
        {15000, true, "a.rsp(3): Error 15000: t\n"},  {0, true, "a.rsp(3): Message 0: t", "t"},
    };
    LMsg base(0);
    LStdoutMsg console;
    for (const Case& c : cases) {
        if (c.position) pushNnPos("a.rsp", 3);
        EXPECT_EQ(captured([&] { base.report(c.code, "t"); }), c.base) << c.code;
        EXPECT_EQ(captured([&] { console.report(c.code, "t"); }), c.console ? c.console : c.base) << c.code;
        if (c.position) popPos();
    }
}

// A batch collects standard output into one write; nested batches join the
// outer one, and a large piece goes out at once behind what came before it.
TEST(Msg, StdoutBatchKeepsTheOrderOfItsPieces) {
    const std::string big(20000, 'x');
    EXPECT_EQ(captured([&] {
                  LStdoutBatch outer;
                  writeStdout("a");
                  {
                      LStdoutBatch inner;
                      EXPECT_FALSE(inner.outermost());
                      writeStdout("b");
                  }
                  writeStdout(big.c_str());
                  writeStdout("c");
                  EXPECT_TRUE(outer.flush());
                  writeStdout("d");
              }),
              "ab" + big + "cd");
}

// A pause inside a batch lets the lock go: what the batch collected is out
// first, and another thread's output neither joins the batch nor waits for it.
TEST(Msg, StdoutBatchPauseWritesTheBatchAndLetsOtherThreadsThrough) {
    EXPECT_EQ(captured([&] {
                  LStdoutBatch outer;
                  writeStdout("a");
                  {
                      const LStdoutBatchPause pause;
                      const LLockRelease release;
                      std::thread([] {
                          EXPECT_FALSE(inStdoutBatch());
                          writeStdout("<other>");
                      }).join();
                  }
                  writeStdout("b");
                  EXPECT_TRUE(inStdoutBatch());
                  writeStdout("c");
              }),
              "a<other>bc");
}

TEST(Msg, SystemErrorSuffixes) {
    struct Case { int code, err; const char* text; const char* kind; };
    const Case cases[] = {
        {17000, ENOENT, "open(): No such file or directory", "Error"},
        {37000, EACCES, "open(): Permission denied", "Warning"},
        {17000, 99999, "open(): (no message)", "Error"},
        {17100, ENOENT, "open(): errno=2: No such file or directory", "Error"},
        {37100, EEXIST, "open(): errno=17: File exists", "Warning"},
        {15000, ENOENT, "open()", "Error"},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        errno = c.err;
        msg(c.code, "open()");
        ASSERT_EQ(rec.reports().size(), 1u);
        EXPECT_EQ(rec.reports()[0].text, c.text) << c.code;
        EXPECT_EQ(rec.reports()[0].kind, c.kind) << c.code;
    }
}

TEST(Msg, PositionStack) {
    MsgCapture rec;
    LString text;
    LNnPos("name", INT_MIN).toText(text);
    EXPECT_STREQ(text.data(), "name");  // the smallest number shows the bare name
    int line = 7;
    pushNnPosRef("cmd.txt", &line);
    line = 8;
    EXPECT_STREQ(currentPosText().data(), "cmd.txt(8)");  // refreshed before every read
    topPos()->setOffset(10);
    std::unique_ptr<LPos> copy(topPos()->clone());
    line = 1;
    LString copied;
    copy->toText(copied);
    EXPECT_STREQ(copied.data(), "cmd.txt(11)");
    LMemSrm srm("one\ntwo\nthree\n");
    pushSrmPos(&srm, "a.rsp", 0);
    LString skip;
    srm.readLine(skip);
    srm.readLine(skip);
    msg(15000, "e");
    EXPECT_EQ(topPos()->number(1), 1);  // the column: just after a line feed
    popPos();
    msg(15000, "f");
    popPos();
    msg(15000, "g");
    ASSERT_EQ(rec.reports().size(), 3u);
    EXPECT_EQ(rec.reports()[0].position, "a.rsp(3)");
    EXPECT_EQ(rec.reports()[1].position, "cmd.txt(11)");
    EXPECT_EQ(rec.reports()[2].position, "");
}

// ---- the message file ----

TEST(MsgFile, ConsoleLevelsOverwriteAppendAndUnusedFiles) {
    // before, file: the file's content before and after the run (null: no file);
    // code -1: the run reports nothing
    struct Case { const char* before; int append, level, code; const char* console; const char* file; };
    const Case cases[] = {
        {nullptr, 0, 0, 0, "text", "text"},
        {nullptr, 0, 0, 35000, "Warning 35000: text\n", "Warning 35000: text\n"},
        {nullptr, 0, 1, 0, "", "text"},
        {nullptr, 0, 1, 19999, "Error 19999: text\n", "Error 19999: text\n"},
        {nullptr, 0, 1, 35000, "", "Warning 35000: text\n"},
        {nullptr, 0, 1, 40000, "", "Note 40000: text\n"},
        {nullptr, 0, 2, 15000, "", "Error 15000: text\n"},
        {"old run\n", 1, 0, 35000, "Warning 35000: text\n", "old run\nWarning 35000: text\n"},
        // a run without reports leaves no file behind, except an earlier run's
        // text that it was to append to
        {nullptr, 0, 0, -1, "", nullptr}, {"earlier\n", 0, 0, -1, "", nullptr}, {"", 0, 0, -1, "", nullptr},
        {nullptr, 1, 0, -1, "", nullptr}, {"", 1, 0, -1, "", nullptr}, {"earlier\n", 1, 0, -1, "", "earlier\n"},
    };
    TempDir dir;
    const std::string path = dir.file("m.txt");
    for (const Case& c : cases) {
        std::filesystem::remove(path);
        if (c.before) writeFile(path, c.before);
        {
            auto sink = fileSink(path, c.append, c.level);
            EXPECT_EQ(captured([&] { if (c.code >= 0) sink->report(c.code, "text"); }), c.console)
                << "level " << c.level << " code " << c.code;
        }
        EXPECT_EQ(std::filesystem::exists(path), c.file != nullptr) << c.before << " append " << c.append;
        if (c.file) {
            EXPECT_EQ(readFile(path), c.file) << "level " << c.level << " code " << c.code;
        }
    }
}

TEST(MsgFile, AFileThatCannotBeOpenedIsReportedAndRetried) {
    TempDir dir;
    const std::string path = dir.file("missing/m.txt");
    auto sink = fileSink(path);
    const std::string failed = "Error 15000: cannot open file '" + path + "'\n";
    EXPECT_EQ(captured([&] {
                  sink->report(35000, "one");
                  sink->report(35000, "two");
              }),
              "Warning 35000: one\n" + failed + "Warning 35000: two\n" + failed);
    std::filesystem::create_directories(dir.file("missing"));
    captured([&] { sink->report(35000, "three"); });
    sink.reset();
    EXPECT_EQ(readFile(path), "Warning 35000: three\n");
}

TEST(MsgFile, AnotherWritersMessageFileIsNeitherOverwrittenNorRemoved) {
    TempDir dir;
    const std::string path = dir.file("m.txt");
    auto first = fileSink(path);
    captured([&] { first->report(15000, "from the first"); });
    EXPECT_NE(captured([&] { fileSink(path)->report(15000, "from the second"); })
                  .find("Error 15000: cannot open file '" + path + "'"),
              std::string::npos);
    fileSink(path);  // no report: would remove an unused file, but this one is held
    captured([&] { first->report(15000, "again"); });
    first.reset();
    EXPECT_EQ(readFile(path), "Error 15000: from the first\nError 15000: again\n");
}

TEST(MsgFile, ReportsOfManyThreadsStayWholeLines) {
    TempDir dir;
    const std::string path = dir.file("m.txt");
    installMsg(fileSink(path, 0, 2).release());  // the library owns it
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) msg(15000, "thread %d report %d", t, i);
        });
    }
    for (auto& th : threads) th.join();
    libShutdown();  // closes the message file
    std::istringstream in(readFile(path));
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_EQ(line.rfind("Error 15000: thread ", 0), 0u) << line;
    }
    EXPECT_EQ(lines, 800);
}

// Reports held back at start wait for the language: each is written in the
// language in force when they are released, suffixes and positions included.
TEST(Msg, HeldReportsAreWrittenInTheLanguageOfTheirRelease) {
    struct Case { int language; const char* out; };
    const Case cases[] = {
        {'J', "Error 10005: 接続「dev」が見つかりません\n"
              "a.rsp(3): Error 17000: /x を開けません: No such file or directory\n"
              "Warning 35000: not in the catalogue\n0 個の接続があります\r\n"},
        {'E', "Error 10005: connection dev not found\n"
              "a.rsp(3): Error 17000: cannot open /x: No such file or directory\n"
              "Warning 35000: not in the catalogue\n0 connection(s)\r\n"},
    };
    for (const Case& c : cases) {
        for (const int first : {'J', 'E'}) {
            Restore<int> language(g_language, first);
            auto* sink = new LStdoutMsg;
            installMsg(sink);  // the library owns it
            sink->holdReports();
            msg(Tx::connectionNotFound, "dev");
            pushNnPos("a.rsp", 3);
            errno = ENOENT;
            msg(Tx::cannotOpen, "/x");
            popPos();
            msg(35000, "not in the catalogue");
            msg(Tx::connectionCount, 0);
            g_language = c.language;
            EXPECT_EQ(captured([&] { sink->releaseHeld(); }), c.out) << first << " then " << c.language;
            // Released: the language in force decides at once.
            EXPECT_EQ(captured([&] { msg(Tx::noColor); }),
                      c.language == 'J' ? "Error 10009: 色の指定が１つもありません\n" : "Error 10009: no colour given\n");
        }
    }
    installMsg(new LMsg(0));
}

// ---- fatal exits ----

TEST(MsgDeathTest, FatalErrorsAndInternalErrorsExitWithTwo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_STOPS_WITH(
        {
            LStdoutMsg sink(1);
            sink.report(19999, "not fatal");
            sink.report(35000, "nor this");
            sink.report(10005, "fatal");
        },
        "Error 19999: not fatal\nWarning 35000: nor this\nError 10005: fatal\nfatal=1");
    EXPECT_EXIT(
        {
            LMsg(0).report(10005, "not with fatal 0");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_STOPS_WITH(internalError("object %s", "assign"), "Internal Error: object assign\nfatal=1");
    EXPECT_STOPS_WITH(internalErrorCode(272), "Internal Error: 272\nfatal=1");
}

// ---- shutdown ----

std::vector<int> g_calls;

TEST(Msg, LibShutdownRunsExitFunctionsInOrderThenDropsTheSink) {
    g_calls.clear();
    atLibExit([] { g_calls.push_back(1); });
    atLibExit([] { g_calls.push_back(2); });
    pushNnPos("p", 1);
    installMsg(new LStdoutMsg);  // the library owns it
    libShutdown();
    libShutdown();  // the list was dropped: nothing runs twice
    EXPECT_EQ(g_calls, (std::vector<int>{1, 2}));
    EXPECT_EQ(g_msg, nullptr);
    EXPECT_EQ(topPos(), nullptr);
    captured([] { msgPrint("x"); });  // a report after shutdown installs a fresh plain sink
    ASSERT_NE(g_msg, nullptr);
    EXPECT_EQ(dynamic_cast<LStdoutMsg*>(g_msg), nullptr);
    msgShutdown();
}
