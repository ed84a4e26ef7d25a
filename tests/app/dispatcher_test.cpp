// The line readers, the pending lines, the dispatcher and the commands it
// handles itself, run through the main loop's own line handling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "app/line_record.h"
#include "app/macros.h"
#include "app/reader.h"
#include "app/settings.h"
#include "base/stream.h"
#include "tests/app/shell_fixture.h"
#include "tests/support/msg_capture.h"
#include "tests/support/process_runner.h"

using vltest::MsgCapture;

namespace {

class Shell : public ::testing::Test {
protected:
    void SetUp() override { vltest::resetShellState(); }
    void TearDown() override { vltest::resetShellState(); }

    // Runs file lines (or typed lines) through the main loop's handling.
    bool run(const std::vector<std::string>& lines, bool typed = false) {
        for (const std::string& l : lines) typed ? vltest::addTypedLine(pending, l) : vltest::addFileLine(pending, l);
        bool quit = false;
        vltest::runPending(pending, 100000, &quit);
        return quit;
    }

    PendingLines pending;
};

std::string describe(const std::unique_ptr<LineRecord>& r) {
    if (!r) return "none";
    return std::string(1, r->kind()) + ":" + std::string(r->text().data(), r->text().len());
}

TEST(Reader, FileAndTypedLines) {
    const struct {
        const char* line;
        const char* file;
        const char* typed;
    } cases[] = {
        {"   hello", "G:hello", "g:hello"},
        {"\t;x", "none", "g:;x"},
        {"", "none", "none"},
        {"  \t", "none", "none"},
        {"!open h", "I:open h", "i:open h"},
        {"!!wait 1", "W:wait 1", "w:wait 1"},
        {"!send  two", "G: two", "g: two"},
        {"!send\tx", "G:x", "g:x"},
        {"!send", "none", "none"},
        {"!sendx", "I:sendx", "i:sendx"},
        {"!!send x", "W:send x", "w:send x"},
        {"!", "none", "none"},
        {"!!", "none", "none"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(describe(makeFileRecord(c.line)), c.file) << c.line;
        EXPECT_EQ(describe(makeConsoleRecord(c.line)), c.typed) << c.line;
    }
}

TEST(Reader, CommandFileLinesInOrderWithAndWithoutLastLineEnd) {
    vltest::TempDir dir;
    const std::string path = dir.write("a.txt", "one\r\n;c\r\n\r\n  !rem x\rtwo\nlast");
    LIoFile file(path.c_str(), 'r', true);
    ASSERT_TRUE(file.isOpen());
    PendingLines pending;
    readCommandFile(file, pending);
    std::vector<std::string> got;
    while (pending.hasNext()) got.push_back(describe(pending.takeNext()));
    EXPECT_EQ(got, (std::vector<std::string>{"G:one", "I:rem x", "G:two", "G:last"}));
}

TEST(LineRecord, DisplayText) {
    MsgCapture cap;
    EXPECT_STREQ(displayText(LineRecord('I', "open x")).data(), "!open x");
    EXPECT_STREQ(displayText(LineRecord('w', "wait 1")).data(), "!!wait 1");
    EXPECT_STREQ(displayText(LineRecord('G', "hi")).data(), "hi");
    EXPECT_TRUE(cap.reports().empty());
    EXPECT_STREQ(displayText(LineRecord('X', "bad")).data(), "bad");
    EXPECT_EQ(cap.textOf(10000), "Internal 454");
}

TEST(PendingLines, InsertionGoesBeforeTheRestInOrder) {
    PendingLines p;
    for (const char* t : {"a", "b"}) p.append(std::make_unique<LineRecord>('G', t));
    EXPECT_STREQ(p.takeNext()->text().data(), "a");
    p.beginInsert();
    p.insertNext(std::make_unique<LineRecord>('G', "x"));
    p.insertNext(std::make_unique<LineRecord>('G', "y"));
    p.append(std::make_unique<LineRecord>('G', "z"));
    EXPECT_STREQ(p.takeNext()->text().data(), "x");
    p.beginInsert();  // a nested call: before the rest of the first insertion
    p.insertNext(std::make_unique<LineRecord>('G', "n"));
    std::string order;
    while (p.hasNext()) order += p.takeNext()->text().data();
    EXPECT_EQ(order, "nybz");
    EXPECT_EQ(p.remaining(), 0);
    EXPECT_EQ(p.takeNext(), nullptr);
}

TEST(CommandTable, LongAndShortNamesAreExactAndCaseSensitive) {
    for (const char* n : {"quit", "q", "read-command-file", "rcf", "cc", "color", "rem", "oh"})
        EXPECT_NE(findCommand(n), nullptr) << n;
    EXPECT_EQ(findCommand("q"), findCommand("quit"));
    for (const char* n : {"Quit", "send", "", "qu", "col"}) EXPECT_EQ(findCommand(n), nullptr) << n;
}

TEST_F(Shell, UnknownCommandsAndMissingConnection) {
    MsgCapture cap;
    EXPECT_FALSE(run({"!Quit", "hello", "!!send x"}));
    const auto r = cap.reports();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].code, 10011);
    EXPECT_EQ(r[0].text, "不明な制御コマンドです: !Quit");
    EXPECT_EQ(r[1].text, "コマンドを実行する接続がありません: hello");
    EXPECT_EQ(r[2].text, "コマンドを実行する接続がありません: !!send x");
    // With a current connection the dispatcher is reached: !!send is no command.
    cap.clear();
    dispatchCommand(nullptr, LineRecord('W', "send x"), pending);
    EXPECT_EQ(cap.textOf(10011), "不明な制御コマンドです: !!send x");
}

TEST_F(Shell, FileCommandsAreEchoedTypedOnesAreNot) {
    MsgCapture cap;
    run({"!rem from a file"});
    run({"!rem typed"}, true);
    EXPECT_EQ(cap.plain(), "!rem from a file\r\n");
}

TEST_F(Shell, QuitInBothFormsEndsTheRun) {
    MsgCapture cap;
    EXPECT_TRUE(run({"!q"}));
    EXPECT_TRUE(run({"!quit now"}, true));
    EXPECT_TRUE(cap.reports().empty());
}

TEST_F(Shell, SwitchesAndMessageColours) {
    MsgCapture cap;
    run({"!is 0"});
    EXPECT_EQ(g_inputShow, 0);
    run({"!is"});
    EXPECT_EQ(g_inputShow, 1);
    run({"!ih 0", "!ir 5"});
    EXPECT_EQ(g_inputHighlight, 0);
    EXPECT_EQ(g_inputReverse, 1);
    run({"!input-reverse 0", "!input-highlight"});
    EXPECT_EQ(g_inputReverse, 0);
    EXPECT_EQ(g_inputHighlight, 1);
    EXPECT_TRUE(cap.reports().empty());

    run({"!emc 0"});
    EXPECT_EQ(g_errorMsgColor, 0x0C);
    EXPECT_EQ(cap.textOf(10013), "数値が正しくありません: 0");
    run({"!emc 14", "!smc 0x1F"});
    EXPECT_EQ(g_errorMsgColor, 14);
    EXPECT_EQ(g_systemMsgColor, 0x1F);
    run({"!smc"});
    EXPECT_EQ(g_systemMsgColor, 0);
}

TEST_F(Shell, WaitRefusesNegativeSecondsAndEndMacroOutsideARecording) {
    MsgCapture cap;
    run({"!wait -1", "!wait 0", "!em", "!end-macro x"});
    const auto r = cap.reports();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].text, "数値が正しくありません: -1");
    EXPECT_EQ(r[1].text, "マクロ定義外に !em があります");
    EXPECT_EQ(r[2].text, "マクロ定義外に !end-macro x があります");
}

TEST_F(Shell, ReadCommandFileAppendsAfterEveryPendingLine) {
    vltest::TempDir dir;
    const std::string more = dir.write("more.txt", "!rem m1\n!rem m2\n");
    MsgCapture cap;
    // An absolute path is double-quoted: a leading slash would quote a pattern.
    run({"!rem a", "!rcf \"" + more + "\"", "!rem b", "!rem c"});
    EXPECT_EQ(cap.plain(), "!rem a\r\n!rcf \"" + more + "\"\r\n!rem b\r\n!rem c\r\n!rem m1\r\n!rem m2\r\n");
    cap.clear();
    run({"!rcf \"" + dir.file("missing.txt") + "\""});
    ASSERT_EQ(cap.codes(), std::vector<int>{17000});
    cap.clear();
    run({"!rcf /a/b"});  // slash-quoted: the file "a", and "b" is extra text
    EXPECT_EQ(cap.textOf(30001), "行末の余計な記述を無視します: 'b'");
}

// ---- macros ----

TEST_F(Shell, MacroRecordsAndExpandsWithKinds) {
    MsgCapture cap;
    g_systemMsgColor = 0;
    run({"!macro greet who", "hello ${who}", "!!wait 0", "!em"});
    const Macro* m = findMacro("greet");
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->lines.count(), 2);
    EXPECT_EQ(g_recordingMacro, nullptr);
    vltest::addFileLine(pending, "!cm greet alice");
    vltest::addFileLine(pending, "!rem after");
    pending.takeNext();  // run the call by hand to look at what it inserted
    dispatchCommand(nullptr, LineRecord('I', "cm greet alice"), pending);
    ASSERT_EQ(pending.remaining(), 3);
    auto first = pending.takeNext();
    auto second = pending.takeNext();
    EXPECT_EQ(first->kind(), 'G');
    EXPECT_STREQ(first->text().data(), "hello alice");
    EXPECT_EQ(second->kind(), 'W');
    EXPECT_STREQ(second->text().data(), "wait 0");
    EXPECT_EQ(first->depth, 1);
    EXPECT_STREQ(pending.takeNext()->text().data(), "rem after");
}

TEST_F(Shell, RecordingAnnouncesLinesAndEndsOnlyOnEm) {
    MsgCapture cap;
    run({"!m rec", "em", "!quit"}, false);
    run({"!quit"}, true);  // typed !quit is recorded too
    EXPECT_NE(g_recordingMacro, nullptr);
    EXPECT_FALSE(run({"!!em"}));
    EXPECT_EQ(g_recordingMacro, nullptr);
    ASSERT_EQ(findMacro("rec")->lines.count(), 3);
    EXPECT_NE(cap.plain().find("[Register in macro rec] em\r\n"), std::string::npos);
    EXPECT_NE(cap.plain().find("[Register in macro rec] !quit\r\n"), std::string::npos);
    EXPECT_EQ(cap.plain().find("[Register in macro rec] !!em"), std::string::npos);
}

TEST_F(Shell, NestedCallsRunBeforeTheRestOfTheCaller) {
    MsgCapture cap;
    g_systemMsgColor = 0;
    run({"!m b", "!rem b1", "!em", "!m a", "!rem a1", "!cm b", "!rem a2", "!em"});
    cap.clear();
    run({"!cm a", "!rem end"});
    EXPECT_EQ(cap.plain(), "!cm a\r\n!rem a1\r\n!cm b\r\n!rem b1\r\n!rem a2\r\n!rem end\r\n");
}

TEST_F(Shell, SelfCallingMacroStopsAtTheDepthLimit) {
    MsgCapture cap;
    g_systemMsgColor = 0;
    run({"!m r", "!rem in r", "!cm r", "!em"});
    cap.clear();
    vltest::addFileLine(pending, "!cm r");
    const int taken = vltest::runPending(pending, 10000);
    EXPECT_LT(taken, 10000);
    EXPECT_FALSE(pending.hasNext());
    ASSERT_EQ(cap.codes(), std::vector<int>{10042});
    EXPECT_EQ(cap.textOf(10042), "マクロ r の呼び出しが深すぎます (最大 100 段)");
    EXPECT_EQ(vltest::countOf(cap.plain(), "!rem in r\r\n"), kMaxMacroDepth);
}

TEST_F(Shell, DeletingTheMacroBeingRecordedEndsTheRecording) {
    MsgCapture cap;
    g_systemMsgColor = 0;
    run({"!m live"});
    ASSERT_NE(g_recordingMacro, nullptr);
    // What a deferred !!delete-macro inside an atom would do meanwhile.
    dispatchCommand(nullptr, LineRecord('w', "dm live"), pending);
    EXPECT_EQ(g_recordingMacro, nullptr);
    EXPECT_EQ(findMacro("live"), nullptr);
}

}  // namespace
