// A small model of a VT100-style terminal screen, for tests that check what a
// user sees rather than which bytes were written: the output of a program is
// fed in, and the rows of the screen (with the rows scrolled off above them)
// and the cursor can be read back.
//
// It understands what line editors and this program write: printable text
// (a UTF-8 character takes one cell), CR, LF, BS, TAB, automatic margins with
// the delayed wrap of VT100 terminals, and the CSI sequences for cursor moves
// (A B C D G H f), erasing (J K X), inserting and deleting characters (@ P);
// colours and modes (m h l) are skipped.
#pragma once

#include <string>
#include <vector>

namespace vltest {

class Screen {
public:
    explicit Screen(int columns = 80, int rows = 24);

    // Interprets the bytes as the terminal would (in pieces or whole).
    void feed(const std::string& bytes);

    // Every row from the first one scrolled off to the last one of the screen,
    // without trailing blanks; the screen's own rows are the last rows().
    std::vector<std::string> lines() const;
    // The row of the screen the cursor is on (0 = top of the screen) and its column.
    int cursorRow() const { return row_; }
    int cursorColumn() const { return col_; }
    // The text of a screen row, without trailing blanks.
    std::string row(int r) const;
    // The whole history joined with "\n" (for failure messages).
    std::string text() const;
    // Index in lines() of the last line that contains needle, or -1.
    int lastLineWith(const std::string& needle) const;
    // Index in lines() of the cursor's row.
    int cursorLine() const { return static_cast<int>(scrolled_.size()) + row_; }

private:
    using Row = std::vector<std::string>;  // one cell: the bytes of one character
    void put(const std::string& ch);
    void lineFeed();
    void csi(char final, const std::vector<int>& params, bool privateMode);
    std::string rowText(const Row& r) const;

    int columns_, rows_;
    std::vector<Row> screen_;
    std::vector<Row> scrolled_;
    int row_ = 0, col_ = 0;
    bool wrapPending_ = false;
    int savedRow_ = 0, savedCol_ = 0;
    std::string pending_;  // an escape sequence or a character cut between feeds
};

}  // namespace vltest
