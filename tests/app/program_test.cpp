// Program targets in process: how exec: text splits into words, how ssh://
// targets become the ssh command line, which targets are refused and with
// what, and that a shown command line splits back into the same words.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/program.h"
#include "tests/support/msg_capture.h"

namespace {

using Words = std::vector<std::string>;

Words wordsOf(const LStrList& list) {
    Words w;
    for (int i = 0; i < list.count(); ++i) w.emplace_back(list[i]);
    return w;
}

// The words of target, or {"error <code>"} when it is refused.
Words targetWords(const char* target) {
    vltest::MsgCapture capture;
    LStrList words;
    const bool ok = programWords(target, words);
    const std::vector<int> codes = capture.codes();
    if (!ok) return {"error " + (codes.empty() ? std::string("none") : std::to_string(codes.front()))};
    EXPECT_TRUE(codes.empty()) << target;
    return wordsOf(words);
}

TEST(ProgramTargets, ExecTextSplitsIntoWords) {
    const struct {
        const char* target;
        Words words;
    } cases[] = {
        {"exec:/bin/sh", {"/bin/sh"}},
        {"exec:  bash   --norc\t-i  ", {"bash", "--norc", "-i"}},
        // Quotes group and may sit inside a word; a quoted nothing is a word.
        {"exec:sh -c \"echo a  b\" x\"y z\"w \"\"", {"sh", "-c", "echo a  b", "xy zw", ""}},
        // A backslash takes the next character, a quote or a blank included.
        {"exec:a\\ b \\\"q\\\" \"in \\\"side\\\\\"", {"a b", "\"q\"", "in \"side\\"}},
        // Slashes and commas are ordinary; a lone backslash at the end is itself.
        {"exec:/usr/bin/x a,b /re/ end\\", {"/usr/bin/x", "a,b", "/re/", "end\\"}},
        // A Shift-JIS character whose second byte is a backslash is one character.
        {"exec:echo \x95\x5c \"\x83\x5c\"", {"echo", "\x95\x5c", "\x83\x5c"}},
        {"exec:   ", {"error 10071"}},
    };
    for (const auto& c : cases) EXPECT_EQ(targetWords(c.target), c.words) << c.target;
}

TEST(ProgramTargets, SshTargetsBuildTheSshCommandLine) {
    const struct {
        const char* sshOption;  // null: the default
        const char* target;
        Words words;
    } cases[] = {
        // The last @ separates the user from the host.
        {nullptr, "ssh://me@corp@jump", {"ssh", "-tt", "me@corp@jump"}},
        // Quotes around the whole command (left by no shell) group nothing.
        {"\"/opt/my ssh/ssh\" -tt", "ssh://h", {"/opt/my ssh/ssh", "-tt", "h"}},
        {"\"ssh -tt -o BatchMode=yes\"", "ssh://h", {"ssh", "-tt", "-o", "BatchMode=yes", "h"}},
        // Nothing that ssh would take for an option of its own.
        {nullptr, "ssh://-x@host", {"error 10072"}},
        {nullptr, "ssh://u@-host", {"error 10072"}},
        {nullptr, "ssh://", {"error 10072"}},
        {nullptr, "ssh://@host", {"error 10072"}},
        {nullptr, "ssh://user@", {"error 10072"}},
        {nullptr, "ssh://host:0", {"error 10044"}},
        {nullptr, "ssh://host:22x", {"error 10044"}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(setSshCommand(c.sshOption != nullptr ? c.sshOption : "ssh -tt"));
        EXPECT_EQ(targetWords(c.target), c.words) << c.target;
    }
}

TEST(ProgramTargets, AnSshCommandWithoutAProgramKeepsTheOneInForce) {
    vltest::MsgCapture capture;
    ASSERT_TRUE(setSshCommand("myssh -tt"));
    EXPECT_FALSE(setSshCommand("   "));
    EXPECT_FALSE(setSshCommand("\"unclosed -tt"));
    EXPECT_EQ(capture.codes(), (std::vector<int>{10071, 10012}));
    EXPECT_EQ(targetWords("ssh://h"), (Words{"myssh", "-tt", "h"}));
    ASSERT_TRUE(setSshCommand("ssh -tt"));
}

TEST(ProgramTargets, OnlyExecAndSshTargetsArePrograms) {
    for (const char* t : {"exec:cat", "ssh://h"}) EXPECT_TRUE(isProgramTarget(t)) << t;
    for (const char* t : {"10.0.0.5:23", "ssh:h", "Exec:cat"}) EXPECT_FALSE(isProgramTarget(t)) << t;
}

TEST(ProgramTargets, AShownCommandLineSplitsBackIntoTheSameWords) {
    const Words samples[] = {
        {"/bin/sh"},
        {"sh", "-c", "trap '' HUP; echo \"a\\b\""},
        {"prog", "", "two words", "tab\there", "\\", "\""},
        {"echo", "\x95\x5c", "\x83\x5c x"},
    };
    for (const Words& w : samples) {
        LStrList list;
        for (const std::string& s : w) list.add(s.c_str(), static_cast<int>(s.size()));
        const LString shown = commandLineText(list);
        LStrList back;
        ASSERT_TRUE(splitCommandWords(shown.data(), back)) << shown.data();
        EXPECT_EQ(wordsOf(back), w) << shown.data();
    }
    LStrList plain;
    for (const char* s : {"ssh", "-tt", "-p", "2222", "admin@10.0.0.5"}) plain.add(s);
    EXPECT_STREQ(commandLineText(plain).data(), "ssh -tt -p 2222 admin@10.0.0.5");
}

}  // namespace
