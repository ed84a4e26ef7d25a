// The end of console input at a terminal: Ctrl-D hands over what was typed of
// a line, and on an empty line ends the input as the end of a pipe does.
#include "base/platform/terminal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

// Standard input on the slave side of a new pseudo-terminal for the test's
// lifetime; what is written to master() is typed there.
class TypedInput {
public:
    TypedInput() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        const int slave = open(ptsname(master_), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) return;
        savedStdin_ = dup(STDIN_FILENO);
        ok_ = dup2(slave, STDIN_FILENO) == STDIN_FILENO;
        close(slave);
    }
    ~TypedInput() {
        if (savedStdin_ >= 0) {
            dup2(savedStdin_, STDIN_FILENO);
            close(savedStdin_);
        }
        if (master_ >= 0) close(master_);
    }
    bool ok() const { return ok_; }
    void type(const std::string& keys) const { ASSERT_EQ(write(master_, keys.data(), keys.size()), ssize_t(keys.size())); }

private:
    int master_ = -1;
    int savedStdin_ = -1;
    bool ok_ = false;
};

TEST(Terminal, CtrlDOnAnEmptyLineEndsTheInput) {
    TypedInput input;
    ASSERT_TRUE(input.ok());
    StdinReader reader;
    std::string line;
    input.type("first\n");
    EXPECT_EQ(reader.readLine(line, 100), 6);
    EXPECT_EQ(line, "first\n");
    // Ctrl-D after some text passes it on, and a second one hands it over as
    // a line without its end.
    input.type("half\x04\x04");
    EXPECT_EQ(reader.readLine(line, 100), 4);
    EXPECT_EQ(line, "half");
    input.type("\x04");  // on an empty line it ends the input
    EXPECT_EQ(reader.readLine(line, 100), StdinReader::kEnd);
    EXPECT_EQ(reader.readLine(line, 100), StdinReader::kEnd);
}

}  // namespace
