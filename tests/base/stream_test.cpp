// Streams and files: line reading, buffering across the 1000-byte buffer,
// seeking, append and truncate, the second writer, Ctrl-C protection.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/msg.h"
#include "base/platform/process.h"
#include "base/stream.h"
#include "base_test_support.h"

namespace {

// Every line of s as readLine gives it, until atEnd with an empty line; with
// numbers, also lineNumber() before each.
std::vector<std::string> lines(LSrmBase& s, int mode = 0, std::vector<int>* numbers = nullptr) {
    std::vector<std::string> out;
    LString line;
    for (;;) {
        if (numbers) numbers->push_back(s.lineNumber());
        s.readLine(line, mode);
        if (s.atEnd() && line.empty()) return out;
        out.emplace_back(line.data(), static_cast<size_t>(line.len()));
    }
}

std::string pattern(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return s;
}

}  // namespace

TEST(Stream, ReadLineEndsAndTheLastLine) {
    using V = std::vector<std::string>;
    struct Case { std::string bytes; V mode0, mode1; };
    const Case cases[] = {
        {"a\nb", {"a", "b"}, {"a\n", "b"}},
        {"a\rb\r", {"a", "b"}, {"a\r", "b\r"}},
        {"a\r\nb\r\n", {"a", "b"}, {"a\r\n", "b\r\n"}},
        {"a\n\r\nb\n\rc", {"a", "", "b", "", "c"}, {"a\n", "\r\n", "b\n", "\r", "c"}},
        {"\r\r", {"", ""}, {"\r", "\r"}},
        {"", {}, {}},
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}, {std::string("n\0l\n", 4)}},
        // CR as the last byte of one 1000-byte fill, LF the first of the next;
        // LF as the last byte; lines across fills.
        {std::string(999, 'a') + "\r\nx", {std::string(999, 'a'), "x"}, {std::string(999, 'a') + "\r\n", "x"}},
        {std::string(999, 'a') + "\nx\n", {std::string(999, 'a'), "x"}, {std::string(999, 'a') + "\n", "x\n"}},
        {std::string(1998, 'b') + "\r\ny", {std::string(1998, 'b'), "y"}, {std::string(1998, 'b') + "\r\n", "y"}},
        {std::string(999, 'a') + "\r\r\nx", {std::string(999, 'a'), "", "x"},
         {std::string(999, 'a') + "\r", "\r\n", "x"}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        LMemSrm s0(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(lines(s0, 0), c.mode0) << c.bytes;
        LMemSrm s1(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(lines(s1, 1), c.mode1) << c.bytes;
        writeFile(dir.file("f"), c.bytes);
        LIoFile f(dir.file("f").c_str(), 'r');
        std::vector<int> numbers, want{1};  // a file counts line feeds
        EXPECT_EQ(lines(f, 1, &numbers), c.mode1) << c.bytes;
        for (const std::string& l : c.mode1) want.push_back(want.back() + (l.find('\n') != std::string::npos));
        EXPECT_EQ(numbers, want) << c.bytes;
    }
    LMemSrm last("first\nlast");  // the last line comes with the end flag set
    LString line;
    last.readLine(line);
    EXPECT_FALSE(last.atEnd());
    EXPECT_EQ(last.readLine(line), -1);
    EXPECT_STREQ(line.data(), "last");
    EXPECT_TRUE(last.atEnd());
    LMemSrm keep("ab\r\ncd");  // mode 2 leaves the line end unread
    EXPECT_EQ(keep.readLine(line, 2), '\r');
    EXPECT_EQ(keep.getByte(), '\r');
}

TEST(Stream, WritesOfAnySizeArriveWholeAndInOrder) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    std::string want;
    {
        LIoFile f(path.c_str(), 'w');
        for (int n : {5003, 1, 999, 1000, 1001, 20, 2500, 0, 7}) {
            const std::string piece = pattern(n + 3).substr(3);
            EXPECT_EQ(f.write(piece.data(), n), n);
            want += piece;
        }
        EXPECT_EQ(f.tell(), static_cast<int64_t>(want.size()));
        const std::string huge(40000, 'h');
        f.printf("[%d:%s]", 12, huge.c_str());
        want += "[12:" + huge + "]";
    }
    EXPECT_EQ(readFile(path), want);
    LIoFile(path.c_str(), 'w').writeText("old\n");  // truncates
    {
        LIoFile f(path.c_str(), 'a');  // keeps, and writes at the end
        EXPECT_EQ(f.tell(), 4);
        f.writeText("new\n");
    }
    EXPECT_EQ(readFile(path), "old\nnew\n");
}

TEST(Stream, ASecondWriterIsRefusedAndCorruptsNothing) {
    TempDir dir;
    const std::string path = dir.file("shared.log");
    MsgCapture rec;
    LIoFile first(path.c_str(), 'w');
    first.writeText("first writer\n");
    first.flush();
    for (int mode : {'w', 'a'}) {
        LIoFile second(path.c_str(), mode);
        EXPECT_FALSE(second.isOpen());
        second.writeText("second writer\n");
    }
    EXPECT_EQ(rec.texts(), Strings(2, "17000 cannot open " + path + ": Resource temporarily unavailable"));
    EXPECT_TRUE(LIoFile(path.c_str(), 'r').isOpen());  // readers are never refused
    first.writeText("still first\n");
    first.close();
    EXPECT_EQ(readFile(path), "first writer\nstill first\n");
    EXPECT_TRUE(LIoFile(path.c_str(), 'a').isOpen());  // free again once the first has closed
}

TEST(Stream, OpenFailuresAreReportedWhenAskedAndFileSize) {
    TempDir dir;
    const std::string path = dir.file("missing.txt");
    MsgCapture rec;
    LIoFile f(path.c_str(), 'r');
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.getByte(), -1);  // a stream that did not open reads as an ended stream
    EXPECT_TRUE(f.atEnd());
    LIoFile quiet(path.c_str(), 'r', false);
    EXPECT_EQ(rec.texts(), Strings{"17000 cannot open " + path + ": No such file or directory"});
    EXPECT_EQ(fileSize(path.c_str()), -1);
    writeFile(path, "12345");
    EXPECT_EQ(fileSize(path.c_str()), 5);
}

TEST(Stream, SeekTellRewriteAndTruncate) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    const std::string bytes = pattern(3000);
    writeFile(path, bytes);
    {
        LIoFile f(path.c_str(), 'r');
        EXPECT_EQ(f.seek(2500), 2500);
        EXPECT_EQ(f.getByte(), static_cast<unsigned char>(bytes[2500]));
        EXPECT_EQ(f.lineNumber(), 0);  // counting stops after a seek outside the buffer
        EXPECT_EQ(f.seek(2490), 2490);  // inside the buffer
        EXPECT_EQ(f.getByte(), static_cast<unsigned char>(bytes[2490]));
        EXPECT_EQ(f.seek(-1), 3000);
        EXPECT_EQ(f.getByte(), -1);
        EXPECT_EQ(f.seek(0), 0);
        EXPECT_FALSE(f.atEnd());  // a seek clears the end flag
    }
    {
        LIoFile f(path.c_str(), 'w');
        f.writeText(bytes.c_str());
        f.seek(5);  // far behind the buffer: pending bytes go out first
        f.writeText("XY");
        f.seek(2998);
        f.writeText("Z");
    }
    std::string want = bytes;
    want.replace(5, 2, "XY");
    want[2998] = 'Z';
    EXPECT_EQ(readFile(path), want);
    {
        LIoFile f(path.c_str(), 'w');
        f.writeText("hello world");
        f.seek(6);  // inside the buffer: pending output stays
        f.writeText("W");
        f.truncate(8);
        f.writeText("!");
    }
    EXPECT_EQ(readFile(path), "hello Wo!");
}

TEST(Stream, LookingAtReadUntilGetChar) {
    const std::string bytes = std::string(995, '.') + "MARKER,rest;tail";
    LMemSrm s(bytes.c_str());
    for (int i = 0; i < 995; ++i) s.getByte();
    EXPECT_TRUE(s.lookingAt("MARKER"));  // needs a refill across the border
    EXPECT_FALSE(s.lookingAt("MARKET"));
    EXPECT_FALSE(s.lookingAt("MARKER,rest;tail and more"));
    LString out;
    EXPECT_EQ(s.readUntil(",;", out), ',');  // nothing was consumed by lookingAt
    EXPECT_STREQ(out.data(), "MARKER");
    EXPECT_EQ(s.getByte(), ',');
    EXPECT_EQ(s.readUntil(";", nullptr), ';');
    s.getByte();
    EXPECT_EQ(s.readUntil(";", out), -1);
    EXPECT_STREQ(out.data(), "MARKERtail");

    LMemSrm sjis("\x82\xA0z\x81");
    EXPECT_EQ(sjis.getChar(), 0x82A0);
    EXPECT_EQ(sjis.getChar(), 'z');
    EXPECT_EQ(sjis.getChar(), 0x81);  // a lead byte at the end stands alone
    EXPECT_EQ(sjis.getChar(), -1);
}

TEST(Stream, AWriteThatCannotProgressGivesUp) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    MsgCapture rec;
    {
        LIoFile f("/dev/full", 'w');
        ASSERT_TRUE(f.isOpen());
        EXPECT_LT(f.writeText(std::string(2500, 'x').c_str()), 2500);
    }
    ASSERT_FALSE(rec.reports().empty());
    for (const auto& r : rec.reports()) EXPECT_EQ(r.text, "write(): No space left on device");
}

// ---- Ctrl-C protection ----

TEST(StreamDeathTest, CtrlCWaitsForAProtectedWriteButNotForAnOpenFile) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    const std::string a = dir.file("a.log");
    // Nested writes (two threads' worth): the interrupt ends the process when
    // the last of them is done, not before.
    EXPECT_EXIT(
        {
            std::signal(SIGINT, SIG_DFL);
            platformBeginProtectedWrite();
            platformBeginProtectedWrite();
            std::raise(SIGINT);
            platformEndProtectedWrite();
            std::fprintf(stderr, "held until the last write\n");
            platformEndProtectedWrite();
            std::exit(7);
        },
        ::testing::KilledBySignal(SIGINT), "held until the last write");
    // An open log file protects nothing between its writes.
    EXPECT_EXIT(
        {
            std::signal(SIGINT, SIG_DFL);
            LIoFile f(a.c_str(), 'w');
            f.writeText("entry\r\n");
            f.flush();
            std::raise(SIGINT);
            std::exit(7);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

// ---- unsupported operations ----

TEST(StreamDeathTest, UnsupportedOperationsStopWithTheirCodes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_STOPS_WITH(LMemStream("abc", 3).write("x", 1), "Internal Error: 51010\n");
    EXPECT_STOPS_WITH(LMemSrm("abc").truncate(1), "Internal Error: 51070\n");
    EXPECT_STOPS_WITH(LFile().open("x", 'x'), "Internal Error: 1130\n");
    EXPECT_STOPS_WITH(
        {
            LIoFile f("/dev/full", 'w');
            f.setFlags(f.flags() | LSrmBase::kWriteFatal);
            f.writeText(std::string(2500, 'x').c_str());
        },
        "Internal Error: write error to /dev/full\n");
}
