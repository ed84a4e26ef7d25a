// Streams and files: line reading, buffering across the 1000-byte buffer,
// seeking, append and truncate, the second writer, Ctrl-C protection.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "base/msg.h"
#include "base/stream.h"
#include "base_test_support.h"

namespace {

// Every line of s as readLine gives it, until atEnd with an empty line.
std::vector<std::string> lines(LSrmBase& s, int mode = 0) {
    std::vector<std::string> out;
    LString line;
    for (int guard = 0; guard < 100000; ++guard) {
        s.readLine(line, mode);
        if (s.atEnd() && line.empty()) break;
        out.emplace_back(line.data(), static_cast<size_t>(line.len()));
    }
    return out;
}

std::string pattern(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>('A' + (i * 7 + i / 26) % 26);
    return s;
}

}  // namespace

TEST(Stream, ReadLineEndsAndTheLastLine) {
    using V = std::vector<std::string>;
    struct Case {
        std::string bytes;
        V mode0, mode1;
    };
    const Case cases[] = {
        {"a\nb", {"a", "b"}, {"a\n", "b"}},
        {"a\rb\r", {"a", "b"}, {"a\r", "b\r"}},
        {"a\r\nb\r\n", {"a", "b"}, {"a\r\n", "b\r\n"}},
        {"a\n\r\nb\n\rc", {"a", "", "b", "", "c"}, {"a\n", "\r\n", "b\n", "\r", "c"}},
        {"\r\r", {"", ""}, {"\r", "\r"}},
        {"", {}, {}},
        {"x", {"x"}, {"x"}},
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}, {std::string("n\0l\n", 4)}},
    };
    for (const Case& c : cases) {
        LMemSrm s0(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(lines(s0, 0), c.mode0) << c.bytes;
        LMemSrm s1(c.bytes.data(), static_cast<int>(c.bytes.size()));
        EXPECT_EQ(lines(s1, 1), c.mode1) << c.bytes;
    }
}

TEST(Stream, LastLineWithoutLineEndSetsTheEndFlag) {
    LMemSrm s("first\nlast");
    LString line;
    s.readLine(line);
    EXPECT_STREQ(line.data(), "first");
    EXPECT_FALSE(s.atEnd());
    s.readLine(line);
    EXPECT_STREQ(line.data(), "last");
    EXPECT_TRUE(s.atEnd());
    EXPECT_EQ(s.readLine(line), -1);
    EXPECT_TRUE(line.empty());
    EXPECT_TRUE(s.atEnd());
}

TEST(Stream, ModeTwoLeavesTheLineEndUnread) {
    LMemSrm s("ab\r\ncd");
    LString line;
    EXPECT_EQ(s.readLine(line, 2), '\r');
    EXPECT_STREQ(line.data(), "ab");
    EXPECT_EQ(s.getByte(), '\r');
    EXPECT_EQ(s.getByte(), '\n');
    EXPECT_EQ(s.readUntil(",", line), -1);
    EXPECT_STREQ(line.data(), "abcd");  // readUntil appends
}

TEST(Stream, LinesAcrossBufferBordersAndLineNumbers) {
    // Lines of every length from 0 to 60 with all three line ends put CR and LF
    // on both sides of every 1000-byte border.
    std::string bytes;
    std::vector<std::string> want;
    std::vector<bool> hasLf;
    const char* ends[] = {"\r\n", "\n", "\r"};
    for (int round = 0; round < 5; ++round) {
        for (int len = 0; len <= 60; ++len) {
            const std::string text = pattern(len);
            want.push_back(text);
            bytes += text;
            bytes += ends[(len + round) % 3];
            hasLf.push_back(ends[(len + round) % 3][0] == '\n' || ends[(len + round) % 3][1] == '\n');
        }
    }
    TempDir dir;
    const std::string path = dir.file("lines.txt");
    writeFile(path, bytes);
    LIoFile f(path.c_str(), 'r');
    ASSERT_TRUE(f.isOpen());
    std::vector<std::string> got;
    LString line;
    int lfSeen = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(f.lineNumber(), lfSeen + 1);
        f.readLine(line);
        got.emplace_back(line.data(), static_cast<size_t>(line.len()));
        if (hasLf[i]) ++lfSeen;
    }
    EXPECT_EQ(got, want);
    f.readLine(line);
    EXPECT_TRUE(f.atEnd());
    EXPECT_TRUE(line.empty());
}

TEST(Stream, LineNumberAfterThreeLinesIsFour) {
    LMemSrm s("one\ntwo\r\nthree\nfour\n");
    LString line;
    EXPECT_EQ(s.lineNumber(), 1);
    for (int i = 0; i < 3; ++i) s.readLine(line);
    EXPECT_STREQ(line.data(), "three");
    EXPECT_EQ(s.lineNumber(), 4);
}

TEST(Stream, WritesOfAnySizeArriveWholeAndInOrder) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    std::string want;
    {
        LIoFile f(path.c_str(), 'w');
        ASSERT_TRUE(f.isOpen());
        const std::string big = pattern(5003);
        EXPECT_EQ(f.writeText(big.c_str()), 5003);
        want += big;
        for (int n : {1, 999, 1000, 1001, 20, 2500, 0, 7}) {
            const std::string piece = pattern(n + 3).substr(3);
            EXPECT_EQ(f.write(piece.data(), n), n);
            want += piece;
        }
        EXPECT_EQ(f.tell(), static_cast<int64_t>(want.size()));
        f.printf("[%d:%s]", 12, "end");
        want += "[12:end]";
        const std::string huge(40000, 'h');
        f.printf("%s", huge.c_str());
        want += huge;
    }
    EXPECT_EQ(readFile(path), want);
}

TEST(Stream, AppendKeepsAndWriteTruncates) {
    TempDir dir;
    const std::string path = dir.file("log.txt");
    writeFile(path, "old\n");
    {
        LIoFile f(path.c_str(), 'a');
        EXPECT_EQ(f.tell(), 4);
        f.writeText("new\n");
    }
    EXPECT_EQ(readFile(path), "old\nnew\n");
    {
        LIoFile f(path.c_str(), 'w');
        f.writeText("x");
    }
    EXPECT_EQ(readFile(path), "x");
    {
        LIoFile f(dir.file("fresh.txt").c_str(), 'a');  // append creates a missing file
        f.writeText("y");
    }
    EXPECT_EQ(readFile(dir.file("fresh.txt")), "y");
}

TEST(Stream, ASecondWriterIsRefusedAndCorruptsNothing) {
    TempDir dir;
    const std::string path = dir.file("shared.log");
    RecordingGuard rec;
    LIoFile first(path.c_str(), 'w');
    ASSERT_TRUE(first.isOpen());
    first.writeText("first writer\n");
    first.flush();
    for (int mode : {'w', 'a'}) {
        LIoFile second(path.c_str(), mode);
        EXPECT_FALSE(second.isOpen());
        EXPECT_EQ(second.writeText("second writer\n"), 14);  // taken by the buffer, never written
    }
    ASSERT_EQ(rec.reports().size(), 2u);
    for (const auto& r : rec.reports()) {
        EXPECT_EQ(r.code, 17000);
        EXPECT_EQ(r.text, "cannot open " + path + ": Resource temporarily unavailable");
    }
    LIoFile reader(path.c_str(), 'r');  // readers are never refused
    EXPECT_TRUE(reader.isOpen());
    first.writeText("still first\n");
    first.close();
    EXPECT_EQ(readFile(path), "first writer\nstill first\n");
    LIoFile third(path.c_str(), 'a');  // free again once the first has closed
    EXPECT_TRUE(third.isOpen());
}

TEST(Stream, OpenFailuresAreReportedWhenAsked) {
    TempDir dir;
    const std::string path = dir.file("missing.txt");
    {
        RecordingGuard rec;
        LIoFile f(path.c_str(), 'r');
        EXPECT_FALSE(f.isOpen());
        ASSERT_EQ(rec.reports().size(), 1u);
        EXPECT_EQ(rec.reports()[0].code, 17000);
        EXPECT_EQ(rec.reports()[0].text, "cannot open " + path + ": No such file or directory");
        // A stream that did not open reads as an empty, ended stream.
        char c;
        EXPECT_EQ(f.read(&c, 1), 0);
        EXPECT_TRUE(f.atEnd());
        EXPECT_EQ(f.getByte(), -1);
    }
    {
        RecordingGuard rec;
        LIoFile quiet(path.c_str(), 'r', false);
        EXPECT_FALSE(quiet.isOpen());
        EXPECT_TRUE(rec.reports().empty());
        LFile file;
        EXPECT_EQ(file.open(path.c_str(), 'r', false), 1);
        EXPECT_EQ(file.open(dir.file("new.txt").c_str(), 'w', false), 0);
        EXPECT_STREQ(file.name(), dir.file("new.txt").c_str());
    }
    {
        RecordingGuard rec;
        setLanguage('J');
        LIoFile f(path.c_str(), 'r');
        setLanguage('E');
        ASSERT_EQ(rec.reports().size(), 1u);
        EXPECT_EQ(rec.reports()[0].text.rfind(path + " を開けません: ", 0), 0u) << rec.reports()[0].text;
    }
}

TEST(Stream, SeekTellAndRewrite) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    const std::string bytes = pattern(3000);
    writeFile(path, bytes);
    {
        LIoFile f(path.c_str(), 'r');
        EXPECT_EQ(f.seek(2500), 2500);
        EXPECT_EQ(f.getByte(), static_cast<unsigned char>(bytes[2500]));
        EXPECT_EQ(f.tell(), 2501);
        EXPECT_EQ(f.lineNumber(), 0);  // counting stops after a seek outside the buffer
        EXPECT_EQ(f.seek(2490), 2490);  // inside the buffer
        EXPECT_EQ(f.getByte(), static_cast<unsigned char>(bytes[2490]));
        EXPECT_EQ(f.seek(-1), 3000);
        EXPECT_EQ(f.getByte(), -1);
        EXPECT_TRUE(f.atEnd());
        EXPECT_EQ(f.seek(0), 0);
        EXPECT_FALSE(f.atEnd());  // a seek clears the end flag
        EXPECT_EQ(f.getByte(), static_cast<unsigned char>(bytes[0]));
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
    }
    EXPECT_EQ(readFile(path), "hello World");
}

TEST(Stream, TruncateContinuesAtTheCut) {
    TempDir dir;
    const std::string path = dir.file("t.txt");
    {
        LIoFile f(path.c_str(), 'w');
        f.writeText("abcdef");
        f.truncate(3);
        f.writeText("Z");
    }
    EXPECT_EQ(readFile(path), "abcZ");
    {
        LIoFile f(path.c_str(), 'a');
        f.seek(1);
        f.truncate();
    }
    EXPECT_EQ(readFile(path), "a");
}

TEST(Stream, LookingAtReadUntilGetChar) {
    const std::string bytes = std::string(995, '.') + "MARKER,rest;tail";
    LMemSrm s(bytes.c_str());
    for (int i = 0; i < 995; ++i) s.getByte();
    EXPECT_TRUE(s.lookingAt("MARKER"));  // needs a refill across the border
    EXPECT_FALSE(s.lookingAt("MARKET"));
    EXPECT_FALSE(s.lookingAt("MARKER,rest;tail and more"));
    EXPECT_EQ(s.getByte(), 'M');  // nothing was consumed
    LString out;
    EXPECT_EQ(s.readUntil(",;", out), ',');
    EXPECT_STREQ(out.data(), "ARKER");
    EXPECT_EQ(s.getByte(), ',');
    EXPECT_EQ(s.readUntil(";", nullptr), ';');
    s.getByte();
    out.clear();
    EXPECT_EQ(s.readUntil(";", out), -1);
    EXPECT_STREQ(out.data(), "tail");

    LMemSrm sjis("\x82\xA0z\x81");
    EXPECT_EQ(sjis.getChar(), 0x82A0);
    EXPECT_EQ(sjis.getChar(), 'z');
    EXPECT_EQ(sjis.getChar(), 0x81);  // a lead byte at the end stands alone
    EXPECT_EQ(sjis.getChar(), -1);
}

TEST(Stream, MemoryStream) {
    LMemStream m("0123456789", -1);
    char buf[8] = {};
    EXPECT_EQ(m.read(buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), "0123");
    EXPECT_EQ(m.seek(20), 4);  // beyond the end: stays
    EXPECT_EQ(m.seek(8), 8);
    EXPECT_EQ(m.read(buf, 8), 2);
    EXPECT_EQ(m.seek(-1), 10);
    EXPECT_EQ(m.read(buf, 8), 0);
    EXPECT_TRUE(m.isOpen());
    EXPECT_STREQ(m.name(), "(unknown stream)");
}

TEST(Stream, FileSizeAndClosedHandles) {
    TempDir dir;
    const std::string path = dir.file("five.txt");
    writeFile(path, "12345");
    EXPECT_EQ(fileSize(path.c_str()), 5);
    EXPECT_EQ(fileSize(dir.file("none").c_str()), -1);
    EXPECT_EQ(fileSize(nullptr), -1);
    LHandle closed;
    char c;
    EXPECT_FALSE(closed.isOpen());
    EXPECT_EQ(closed.read(&c, 1), 0);
    EXPECT_EQ(closed.write("x", 1), 0);
    EXPECT_EQ(closed.seek(3), 0);
    EXPECT_EQ(closed.tell(), 0);
    closed.close();
}

TEST(Stream, AWriteThatCannotProgressStopsWithoutLosingTheProcess) {
    if (!fileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    RecordingGuard rec;
    {
        LIoFile f("/dev/full", 'w');
        ASSERT_TRUE(f.isOpen());
        const std::string big(2500, 'x');
        EXPECT_LT(f.writeText(big.c_str()), 2500);
    }
    ASSERT_FALSE(rec.reports().empty());
    for (const auto& r : rec.reports()) EXPECT_EQ(r.text, "write(): No space left on device");
}

// ---- Ctrl-C protection ----

TEST(Stream, InterruptProtectionIsCounted) {
    TempDir dir;
    EXPECT_EQ(interruptProtectionDepth(), 0);
    {
        LIoFile a(dir.file("a").c_str(), 'w');
        EXPECT_EQ(interruptProtectionDepth(), 1);
        LIoFile b(dir.file("b").c_str(), 'a');
        LIoFile r(dir.file("a").c_str(), 'r');  // reading is never protected
        LIoFile failed(dir.file("no/such").c_str(), 'w', false);
        EXPECT_EQ(interruptProtectionDepth(), 2);
        a.close();
        a.close();
        EXPECT_EQ(interruptProtectionDepth(), 1);
        LFile unprotected;
        unprotected.open(dir.file("c").c_str(), 'w', true, false);
        EXPECT_EQ(interruptProtectionDepth(), 1);
    }
    EXPECT_EQ(interruptProtectionDepth(), 0);
}

TEST(StreamDeathTest, CtrlCIsIgnoredWhileAFileIsWritten) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    const std::string a = dir.file("a.log");
    const std::string b = dir.file("b.log");
    EXPECT_EXIT(
        {
            std::signal(SIGINT, SIG_DFL);
            LIoFile first(a.c_str(), 'w');
            LIoFile second(b.c_str(), 'w');
            std::raise(SIGINT);
            first.close();
            std::raise(SIGINT);  // the second file still protects
            second.close();
            std::exit(7);
        },
        ::testing::ExitedWithCode(7), "");
    EXPECT_EXIT(
        {
            std::signal(SIGINT, SIG_DFL);
            { LIoFile f(a.c_str(), 'w'); }
            std::raise(SIGINT);
            std::exit(7);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

// ---- unsupported operations ----

TEST(StreamDeathTest, UnsupportedOperationsStopWithTheirCodes) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_STOPS_WITH(
        {
            LMemStream m("abc", 3);
            m.write("x", 1);
        },
        "Internal Error: 51010\n");
    EXPECT_STOPS_WITH(
        {
            LMemSrm s("abc");
            s.truncate(1);
        },
        "Internal Error: 51070\n");
    EXPECT_STOPS_WITH(
        {
            LFile f;
            f.open("x", 'x');
        },
        "Internal Error: 1130\n");
    EXPECT_STOPS_WITH(
        {
            LIoFile f("/dev/full", 'w');
            f.setFlags(f.flags() | LSrmBase::kWriteFatal);
            const std::string big(2500, 'x');
            f.writeText(big.c_str());
        },
        "Internal Error: write error to /dev/full\n");
}
