// The result file: JSON lines, one write per line (see result_file.h).
#include "app/result_file.h"

#include <charconv>
#include <cstdio>
#include <cstring>

#include "app/outcomes.h"
#include "base/msg.h"
#include "base/platform/file.h"
#include "base/platform/process.h"

ResultFile g_resultFile;

namespace {
void appendNumber(std::string& out, int64_t n) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, n);
    out.append(digits, static_cast<size_t>(r.ptr - digits));
}
}  // namespace

std::string isoLocalTime(int64_t ms) {
    int t[6];
    int offset = 0;
    if (!platformLocalTimeOffset(ms, t, &offset)) return "";
    const int64_t milli = ((ms % 1000) + 1000) % 1000;
    const char sign = offset < 0 ? '-' : '+';
    const int off = offset < 0 ? -offset : offset;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t[0], t[1], t[2], t[3], t[4],
                  t[5], static_cast<int>(milli), sign, off / 3600, off / 60 % 60);
    return buf;
}

bool ResultFile::open(const char* path) { return file_.open(path, 'w', true, true) == 0; }

void ResultFile::appendString(std::string& out, const char* text) {
    if (text == nullptr) {
        out.append("null");
        return;
    }
    const size_t n = std::strlen(text);
    // Names and reasons are nearly always printable ASCII without a quote or a
    // backslash: they go in as they are.
    size_t plain = 0;
    while (plain < n) {
        const auto c = static_cast<unsigned char>(text[plain]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') break;
        ++plain;
    }
    if (plain == n) {
        out.push_back('"');
        out.append(text, n);
        out.push_back('"');
        return;
    }
    std::string utf8;
    utf8_.append(text, static_cast<int>(n), utf8);
    out.push_back('"');
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out.append(esc);
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
}

std::string ResultFile::format(const ResultEntry& e) {
    std::string line;
    appendLine(line, e);
    return line;
}

void ResultFile::appendLine(std::string& line, const ResultEntry& e) {
    line.append("{\"atom\":");
    appendString(line, e.atom);
    line.append(",\"connection\":");
    appendString(line, e.connection);
    line.append(",\"address\":");
    appendString(line, e.address);
    line.append(",\"status\":");
    appendString(line, e.status);
    line.append(",\"reason\":");
    appendString(line, e.reason);
    line.append(",\"attempt\":");
    appendNumber(line, e.attempt);
    line.append(",\"started\":");
    if (e.startedWallMs > 0)
        appendTime(line, e.startedWallMs);
    else
        line.append("null");
    line.append(",\"ended\":");
    appendTime(line, e.endedWallMs);
    line.append(",\"seconds\":");
    if (e.milliseconds >= 0) {
        appendNumber(line, e.milliseconds / 1000);
        const int milli = static_cast<int>(e.milliseconds % 1000);
        const char digits[4] = {'.', static_cast<char>('0' + milli / 100), static_cast<char>('0' + milli / 10 % 10),
                                static_cast<char>('0' + milli % 10)};
        line.append(digits, 4);
    } else {
        line.append("null");
    }
    line.append(",\"bytes_received\":");
    if (e.bytes >= 0) {
        appendNumber(line, e.bytes);
    } else {
        line.append("null");
    }
    line.push_back('}');
}

void ResultFile::appendTime(std::string& out, int64_t ms) {
    // Local time changes its offset only on a whole second: the text of a
    // second is made once, and only its milliseconds change.
    const int64_t second = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    if (second != second_) {
        secondText_ = isoLocalTime(second * 1000);
        second_ = second;
    }
    const size_t dot = secondText_.find('.');
    if (dot == std::string::npos) {
        out.append("\"\"");
        return;
    }
    const int milli = static_cast<int>(ms - second * 1000);
    const char digits[3] = {static_cast<char>('0' + milli / 100), static_cast<char>('0' + milli / 10 % 10),
                            static_cast<char>('0' + milli % 10)};
    out.push_back('"');
    out.append(secondText_, 0, dot + 1);
    out.append(digits, 3);
    out.append(secondText_, dot + 4, std::string::npos);
    out.push_back('"');
}

void ResultFile::add(const ResultEntry& e) {
    if (!file_.isOpen()) return;
    appendLine(pending_, e);
    pending_.push_back('\n');
}

void ResultFile::flush() {
    if (pending_.empty()) return;
    std::string lines;
    lines.swap(pending_);
    if (!file_.isOpen()) return;
    const char* p = lines.data();
    size_t left = lines.size();
    // Ctrl-C waits until the line is out, so that no line is cut in half.
    platformBeginProtectedWrite();
    while (left > 0) {
        const int n = platformWrite(file_.fd(), p, static_cast<int>(left));
        if (n <= 0) break;
        p += n;
        left -= static_cast<size_t>(n);
    }
    const int err = platformErrno();
    platformEndProtectedWrite();
    if (left == 0) return;
    // A full disk or a lost device: said once, and the run's exit status tells.
    msg(Tx::resultWriteFailed, file_.fileName(), winErrorText(err).data());
    file_.close();
    noteRunFailure();
}
