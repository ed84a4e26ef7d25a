// The screen model: a grid of cells, a cursor, and a parser that keeps a cut
// escape sequence or UTF-8 character until the next feed.
#include "tests/support/screen.h"

#include <algorithm>

namespace vltest {

Screen::Screen(int columns, int rows)
    : columns_(columns), rows_(rows), screen_(static_cast<size_t>(rows), Row(static_cast<size_t>(columns), " ")) {}

void Screen::lineFeed() {
    wrapPending_ = false;
    if (row_ + 1 < rows_) {
        ++row_;
        return;
    }
    scrolled_.push_back(screen_.front());
    screen_.erase(screen_.begin());
    screen_.push_back(Row(static_cast<size_t>(columns_), " "));
}

void Screen::put(const std::string& ch) {
    if (wrapPending_) {
        col_ = 0;
        lineFeed();
    }
    screen_[static_cast<size_t>(row_)][static_cast<size_t>(col_)] = ch;
    if (col_ + 1 < columns_)
        ++col_;
    else
        wrapPending_ = true;
}

void Screen::csi(char final, const std::vector<int>& params, bool privateMode) {
    if (privateMode) return;
    auto arg = [&](size_t i, int fallback) { return i < params.size() && params[i] > 0 ? params[i] : fallback; };
    Row& line = screen_[static_cast<size_t>(row_)];
    const int n = arg(0, 1);
    wrapPending_ = false;
    switch (final) {
    case 'A': row_ = std::max(0, row_ - n); break;
    case 'B': row_ = std::min(rows_ - 1, row_ + n); break;
    case 'C': col_ = std::min(columns_ - 1, col_ + n); break;
    case 'D': col_ = std::max(0, col_ - n); break;
    case 'G': col_ = std::min(columns_ - 1, n - 1); break;
    case 'H':
    case 'f':
        row_ = std::min(rows_ - 1, arg(0, 1) - 1);
        col_ = std::min(columns_ - 1, arg(1, 1) - 1);
        break;
    case 'J': {
        const int mode = params.empty() ? 0 : params[0];
        for (int r = 0; r < rows_; ++r) {
            for (int c = 0; c < columns_; ++c) {
                const bool after = r > row_ || (r == row_ && c >= col_);
                if (mode == 2 || (mode == 0 && after) || (mode == 1 && !after))
                    screen_[static_cast<size_t>(r)][static_cast<size_t>(c)].assign(1, ' ');
            }
        }
        break;
    }
    case 'K': {
        const int mode = params.empty() ? 0 : params[0];
        for (int c = 0; c < columns_; ++c)
            if (mode == 2 || (mode == 0 && c >= col_) || (mode == 1 && c <= col_)) line[static_cast<size_t>(c)].assign(1, ' ');
        break;
    }
    case 'X':
        for (int c = col_; c < std::min(columns_, col_ + n); ++c) line[static_cast<size_t>(c)].assign(1, ' ');
        break;
    case 'P':
        for (int i = 0; i < n && col_ < columns_; ++i) {
            line.erase(line.begin() + col_);
            line.push_back(" ");
        }
        break;
    case '@':
        for (int i = 0; i < n && col_ < columns_; ++i) {
            line.insert(line.begin() + col_, " ");
            line.pop_back();
        }
        break;
    default:
        break;  // colours, modes
    }
}

void Screen::feed(const std::string& bytes) {
    const std::string all = pending_ + bytes;
    pending_.clear();
    size_t i = 0;
    while (i < all.size()) {
        const unsigned char c = static_cast<unsigned char>(all[i]);
        if (c == 0x1b) {
            if (i + 1 >= all.size()) {
                pending_ = all.substr(i);
                return;
            }
            const char kind = all[i + 1];
            if (kind != '[') {
                if (kind == '7') {
                    savedRow_ = row_;
                    savedCol_ = col_;
                } else if (kind == '8') {
                    row_ = savedRow_;
                    col_ = savedCol_;
                    wrapPending_ = false;
                } else if (kind == 'M') {
                    if (row_ > 0) --row_;
                }
                i += 2;
                continue;
            }
            size_t j = i + 2;
            bool privateMode = false;
            if (j < all.size() && (all[j] == '?' || all[j] == '>')) {
                privateMode = true;
                ++j;
            }
            std::vector<int> params;
            int value = -1;
            while (j < all.size() && ((all[j] >= '0' && all[j] <= '9') || all[j] == ';')) {
                if (all[j] == ';') {
                    params.push_back(std::max(value, 0));
                    value = -1;
                } else {
                    value = std::max(value, 0) * 10 + (all[j] - '0');
                }
                ++j;
            }
            if (j >= all.size()) {
                pending_ = all.substr(i);
                return;
            }
            if (value >= 0 || !params.empty()) params.push_back(std::max(value, 0));
            csi(all[j], params, privateMode);
            i = j + 1;
            continue;
        }
        if (c == '\r') {
            col_ = 0;
            wrapPending_ = false;
        } else if (c == '\n') {
            lineFeed();
        } else if (c == '\b') {
            wrapPending_ = false;
            if (col_ > 0) --col_;
        } else if (c == '\t') {
            wrapPending_ = false;
            col_ = std::min(columns_ - 1, (col_ / 8 + 1) * 8);
        } else if (c >= 0x20 && c != 0x7f) {
            // One UTF-8 character: the lead byte and its continuation bytes.
            size_t n = 1;
            if (c >= 0xC0) {
                while (i + n < all.size() && (static_cast<unsigned char>(all[i + n]) & 0xC0) == 0x80) ++n;
                const size_t want = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
                if (n < want && i + n >= all.size()) {
                    pending_ = all.substr(i);
                    return;
                }
            }
            put(all.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
}

std::string Screen::rowText(const Row& r) const {
    std::string s;
    for (const std::string& cell : r) s += cell;
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<std::string> Screen::lines() const {
    std::vector<std::string> out;
    for (const Row& r : scrolled_) out.push_back(rowText(r));
    for (const Row& r : screen_) out.push_back(rowText(r));
    return out;
}

std::string Screen::row(int r) const { return rowText(screen_.at(static_cast<size_t>(r))); }

std::string Screen::text() const {
    std::string s;
    for (const std::string& l : lines()) s += l + "\n";
    return s;
}

int Screen::lastLineWith(const std::string& needle) const {
    const std::vector<std::string> all = lines();
    for (int i = static_cast<int>(all.size()) - 1; i >= 0; --i)
        if (all[static_cast<size_t>(i)].find(needle) != std::string::npos) return i;
    return -1;
}

}  // namespace vltest
