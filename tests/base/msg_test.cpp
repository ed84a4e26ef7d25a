// Message reporting: kinds and formats, suffixes, positions, the message file,
// console levels, fatal exits, language, shutdown.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/msg.h"
#include "base/stream.h"
#include "base_test_support.h"

namespace {
std::string captured(const std::function<void()>& run) {
    ::testing::internal::CaptureStdout();
    run();
    return ::testing::internal::GetCapturedStdout();
}
}  // namespace

TEST(Msg, KindsByCodeThroughTheBaseSink) {
    struct Case {
        int code;
        const char* out;
    };
    const Case cases[] = {
        {0, "Message 0: t"},          {1, "Error 1: t\n"},          {10000, "Error 10000: t\n"},
        {19999, "Error 19999: t\n"},  {20000, "Warning 20000: t\n"}, {39998, "Warning 39998: t\n"},
        {39999, "Note 39999: t\n"},   {50000, "Note 50000: t\n"},    {-3, "Message -3: t"},
    };
    LMsg sink(0);
    for (const Case& c : cases) EXPECT_EQ(captured([&] { sink.report(c.code, "t"); }), c.out) << c.code;
}

TEST(Msg, StdoutSinkFormatsWithAndWithoutPosition) {
    LStdoutMsg sink;
    EXPECT_EQ(captured([&] { sink.report(0, "plain text"); }), "plain text");
    EXPECT_EQ(captured([&] { sink.report(10007, "bad option"); }), "Error 10007: bad option\n");
    pushNnPos("a.rsp", 3);
    EXPECT_EQ(captured([&] { sink.report(15000, "oops"); }), "a.rsp(3): Error 15000: oops\n");
    EXPECT_EQ(captured([&] { sink.report(0, "still plain"); }), "still plain");
    popPos();
    EXPECT_EQ(captured([&] { sink.report(35000, "w"); }), "Warning 35000: w\n");
    msgShutdown();
}

TEST(Msg, SystemErrorSuffixes) {
    struct Case {
        int code, err;
        const char* text;
        const char* kind;
    };
    const Case cases[] = {
        {17000, ENOENT, "open(): No such file or directory", "Error"},
        {37000, EACCES, "open(): Permission denied", "Warning"},
        {17000, 99999, "open(): (no message)", "Error"},
        {17100, ENOENT, "open(): errno=2: No such file or directory", "Error"},
        {37100, EEXIST, "open(): errno=17: File exists", "Warning"},
        {15000, ENOENT, "open()", "Error"},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        errno = c.err;
        msg(c.code, "open()");
        ASSERT_EQ(rec.reports().size(), 1u);
        EXPECT_EQ(rec.reports()[0].text, c.text) << c.code;
        EXPECT_EQ(rec.reports()[0].kind, c.kind) << c.code;
    }
    errno = EPERM;
    EXPECT_STREQ(winErrorText().data(), "Operation not permitted");
}

TEST(Msg, Positions) {
    RecordingGuard rec;
    LNnPos plain("name", INT_MIN);
    LString text;
    plain.toText(text);
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

    pushNnPos("inner", 2);
    msg(15000, "e");
    popPos();
    msg(15000, "f");
    popPos();
    msg(15000, "g");
    ASSERT_EQ(rec.reports().size(), 3u);
    EXPECT_EQ(rec.reports()[0].position, "inner(2)");
    EXPECT_EQ(rec.reports()[1].position, "cmd.txt(11)");
    EXPECT_EQ(rec.reports()[2].position, "");
}

TEST(Msg, StreamPositionsFollowTheLines) {
    RecordingGuard rec;
    LMemSrm srm("one\ntwo\nthree\n");
    pushSrmPos(&srm, "a.rsp", 0);
    LString line;
    srm.readLine(line);
    srm.readLine(line);
    msg(15000, "bad");
    EXPECT_EQ(topPos()->number(1), 1);  // the column: just after a line feed
    pushSrmPos(&srm, nullptr, 100);     // no name: the stream's own
    EXPECT_STREQ(currentPosText().data(), "(unknown stream)(103)");
    ASSERT_EQ(rec.reports().size(), 1u);
    EXPECT_EQ(rec.reports()[0].position, "a.rsp(3)");
    msgShutdown();
}

// ---- the message file ----

namespace {
struct FileSink {
    explicit FileSink(const std::string& path, int append = 0, int level = 0) : name(path) {
        sink = std::make_unique<LStdoutMsg>();
        sink->msgFile = name.c_str();
        sink->msgFileAppend = append;
        sink->consoleLevel = level;
    }
    std::string name;
    std::unique_ptr<LStdoutMsg> sink;
};
}  // namespace

TEST(MsgFile, ConsoleLevelsAndTheFile) {
    struct Case {
        int level, code;
        const char* line;
        bool console;
    };
    const Case cases[] = {
        {0, 0, "text", true},   {0, 35000, "Warning 35000: text\n", true}, {1, 0, "text", false},
        {1, 19999, "Error 19999: text\n", true}, {1, 35000, "Warning 35000: text\n", false},
        {1, 40000, "Note 40000: text\n", false}, {2, 15000, "Error 15000: text\n", false},
    };
    TempDir dir;
    const std::string path = dir.file("m.txt");
    for (const Case& c : cases) {
        {
            FileSink f(path, 0, c.level);
            EXPECT_EQ(captured([&] { f.sink->report(c.code, "text"); }), c.console ? c.line : "")
                << "level " << c.level << " code " << c.code;
        }
        EXPECT_EQ(readFile(path), c.line) << "level " << c.level << " code " << c.code;
    }
}

TEST(MsgFile, OverwriteAndAppend) {
    TempDir dir;
    const std::string path = dir.file("m.txt");
    writeFile(path, "old run\n");
    {
        FileSink f(path);
        captured([&] { f.sink->report(15000, "first"); f.sink->report(0, "plain"); });
    }
    EXPECT_EQ(readFile(path), "Error 15000: first\nplain");
    {
        FileSink f(path, 1);
        captured([&] { f.sink->report(35000, "second"); });
    }
    EXPECT_EQ(readFile(path), "Error 15000: first\nplainWarning 35000: second\n");
}

TEST(MsgFile, ARunWithoutReportsLeavesNoFileBehind) {
    struct Case {
        const char* before;  // null: no file
        int append;
        bool remains;
    };
    const Case cases[] = {
        {nullptr, 0, false}, {"earlier\n", 0, false}, {"", 0, false},
        {nullptr, 1, false}, {"", 1, false},          {"earlier\n", 1, true},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("m.txt");
        std::filesystem::remove(path);
        if (c.before) writeFile(path, c.before);
        { FileSink f(path, c.append); }
        EXPECT_EQ(fileExists(path), c.remains) << (c.before ? c.before : "(none)") << " append " << c.append;
        if (c.remains) {
            EXPECT_EQ(readFile(path), c.before);
        }
    }
}

TEST(MsgFile, AFileThatCannotBeOpenedIsReportedAndRetried) {
    TempDir dir;
    const std::string path = dir.file("missing/m.txt");
    FileSink f(path);
    const std::string out = captured([&] {
        f.sink->report(35000, "one");
        f.sink->report(35000, "two");
    });
    EXPECT_EQ(out, "Warning 35000: one\nError 15000: cannot open file '" + path + "'\nWarning 35000: two\n" +
                       "Error 15000: cannot open file '" + path + "'\n");
    std::filesystem::create_directories(dir.file("missing"));
    captured([&] { f.sink->report(35000, "three"); });
    f.sink.reset();
    EXPECT_EQ(readFile(path), "Warning 35000: three\n");
}

TEST(MsgFile, AnotherWritersMessageFileIsNeitherOverwrittenNorRemoved) {
    TempDir dir;
    const std::string path = dir.file("m.txt");
    FileSink first(path);
    captured([&] { first.sink->report(15000, "from the first"); });
    {
        FileSink second(path);
        const std::string out = captured([&] { second.sink->report(15000, "from the second"); });
        EXPECT_NE(out.find("Error 15000: cannot open file '" + path + "'"), std::string::npos) << out;
    }
    { FileSink idle(path); }  // no report: would remove an unused file, but this one is held
    captured([&] { first.sink->report(15000, "again"); });
    first.sink.reset();
    EXPECT_EQ(readFile(path), "Error 15000: from the first\nError 15000: again\n");
}

TEST(MsgFile, ReportsOfManyThreadsStayWholeLines) {
    TempDir dir;
    const std::string path = dir.file("m.txt");
    auto* sink = new LStdoutMsg;  // installed: the library owns it
    sink->msgFile = path.c_str();
    sink->consoleLevel = 2;
    installMsg(sink);
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
        EXPECT_TRUE(line.rfind("Error 15000: thread ", 0) == 0) << line;
    }
    EXPECT_EQ(lines, 800);
}

// ---- fatal exits ----

TEST(MsgDeathTest, FatalSinkEndsTheProcessAfterAnError) {
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
            LMsg sink(0);
            sink.report(10005, "not with fatal 0");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MsgDeathTest, InternalErrorWritesAndExitsWithTwo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_STOPS_WITH(internalError("object %s", "assign"), "Internal Error: object assign\nfatal=1");
    EXPECT_STOPS_WITH(internalErrorCode(272), "Internal Error: 272\nfatal=1");
}

// ---- language and shutdown ----

TEST(Msg, LanguageSwitch) {
    RecordingGuard rec;
    setLanguage('J');
    EXPECT_STREQ(lang("日本語", "English"), "日本語");
    setLanguage('E');
    EXPECT_STREQ(lang("日本語", "English"), "English");
    EXPECT_TRUE(rec.reports().empty());  // no locale warning, whatever the machine has
}

namespace {
std::vector<int> g_calls;
}  // namespace

TEST(Msg, LibShutdownRunsExitFunctionsInOrderThenDropsTheSink) {
    g_calls.clear();
    atLibExit([] { g_calls.push_back(1); });
    atLibExit([] { g_calls.push_back(2); });
    pushNnPos("p", 1);
    installMsg(new LStdoutMsg);  // the library owns it
    libShutdown();
    EXPECT_EQ(g_calls, (std::vector<int>{1, 2}));
    EXPECT_EQ(g_msg, nullptr);
    EXPECT_EQ(topPos(), nullptr);
    libShutdown();  // the list was dropped: nothing runs twice
    EXPECT_EQ(g_calls.size(), 2u);

    // A report after shutdown installs a fresh default sink.
    captured([] { msgPrint("x"); });
    ASSERT_NE(g_msg, nullptr);
    EXPECT_EQ(dynamic_cast<LStdoutMsg*>(g_msg), nullptr);
    msgShutdown();
}
