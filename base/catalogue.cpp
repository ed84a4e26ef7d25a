// Formatting the texts of the catalogue. The call sites' arguments have been
// checked against both texts when they were compiled (base/catalogue.h), so
// the texts can be handed to the formatter as they are.
#include "base/catalogue.h"

#include <cstdarg>
#include <cstdio>

LString formatText(Tx id, ...) {
    LString text;
    va_list args;
    va_start(args, id);
    text.appendFormatV(tr(id), args);
    va_end(args);
    return text;
}

TextBuffer::TextBuffer(const char* format, va_list args) { fillV(format, args); }

void TextBuffer::fill(Tx id, ...) {
    va_list args;
    va_start(args, id);
    fillV(tr(id), args);
    va_end(args);
}

void TextBuffer::fillV(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small_, sizeof small_, format, args);
    if (n >= static_cast<int>(sizeof small_)) {
        large_.emplace();
        large_->appendFormatV(format, again);
    } else if (n < 0) {
        small_[0] = 0;
    }
    va_end(again);
}
