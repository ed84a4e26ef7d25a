// Command-file and console lines into line records. Both go through one
// classifier so that the two sources differ only where they must (comments,
// the case of the kind letter).
#include "app/reader.h"

#include <cstring>

#include "app/pending_lines.h"
#include "base/stream.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::unique_ptr<LineRecord> classify(const char* p, const char* end, bool typed) {
    while (p < end && isBlank(*p)) ++p;
    if (p == end) return nullptr;
    if (!typed && *p == ';') return nullptr;
    char kind = 'G';
    const int left = static_cast<int>(end - p);
    if (left >= 2 && p[0] == '!' && p[1] == '!') {
        kind = 'W';
        p += 2;
    } else if (left >= 5 && std::memcmp(p, "!send", 5) == 0 &&
               (left == 5 || isBlank(p[5]))) {
        p += (left == 5) ? 5 : 6;
    } else if (*p == '!') {
        kind = 'I';
        p += 1;
    }
    if (p == end) return nullptr;
    if (typed) kind = static_cast<char>(kind | 0x20);
    return std::make_unique<LineRecord>(kind, p, static_cast<int>(end - p));
}

}  // namespace

std::unique_ptr<LineRecord> makeFileRecord(const char* line, int n) {
    if (n < 0) n = static_cast<int>(std::strlen(line));
    return classify(line, line + n, false);
}

std::unique_ptr<LineRecord> makeConsoleRecord(const char* line, int n) {
    if (n < 0) n = static_cast<int>(std::strlen(line));
    return classify(line, line + n, true);
}

void readCommandFile(LSrmBase& stream, PendingLines& pending) {
    LString line;
    for (;;) {
        line.clear();
        stream.readLine(line, 0);
        if (stream.atEnd() && line.empty()) break;
        if (auto record = makeFileRecord(line.data(), line.len())) pending.append(std::move(record));
    }
}
