// LineRecord: construction, copies and the user's view of a stored line.
#include "app/line_record.h"

#include "base/msg.h"

LineRecord::LineRecord(char kind, const char* text, int n)
    : kind_(kind), text_(n < 0 ? LString(text) : LString(text, n)) {}

LineRecord::~LineRecord() {
    if (!secret) return;
    volatile char* p = text_.data();
    for (int i = 0; i < text_.len(); ++i) p[i] = 0;
}

std::unique_ptr<LineRecord> LineRecord::clone() const {
    auto copy = std::make_unique<LineRecord>(kind_, text_.data(), text_.len());
    copy->depth = depth;
    copy->secret = secret;
    copy->target = target;
    return copy;
}

LString displayText(const LineRecord& line) {
    if (line.secret) return LString(kSecretShown);
    LString out;
    switch (line.lowerKind()) {
    case 'i':
        out.append("!");
        break;
    case 'w':
        out.append("!!");
        break;
    case 'g':
        break;
    default:
        msg(Tx::invalidLineKind);
        break;
    }
    out.append(line.text());
    return out;
}
