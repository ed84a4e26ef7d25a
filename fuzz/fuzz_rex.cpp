// libFuzzer target of the pattern engine. An input is a control byte (bits 0-2:
// compile flags, bit 3: single-byte instead of Shift-JIS, bit 4: Japanese
// messages, bit 5: UTF-8 before the others), the pattern, a NUL, and the text. The pattern is compiled and
// dumped; the text, in a buffer of exactly its size so that any read past its
// end is caught, is searched in every nth mode with and without the search
// shortcuts, and both must select the same match. A small step limit bounds
// the backtracking of patterns that take exponential time; searches that give
// up are not compared.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "base/chars.h"
#include "base/msg.h"
#include "rex/nodes.h"
#include "rex/search.h"

namespace {

class SilentSink : public LMsg {
public:
    void output(int, const char*, const char*, const char*) override {}
};

constexpr size_t kMaxPattern = 300;
constexpr size_t kMaxText = 300;
constexpr int kBudget = 200000;

struct Result {
    int at, start, length;
    bool exhausted;
};

Result run(LRex* rex, const char* text, int length, int nth, bool shortcuts) {
    g_rexShortcuts = shortcuts;
    LRexSearch search(rex);
    Result r;
    r.at = search.find(text, -1, length, nth, 0);
    r.start = search.matchStart ? static_cast<int>(search.matchStart - text) : -1;
    r.length = search.matchLength;
    r.exhausted = search.gaveUp;
    g_rexShortcuts = true;
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool installed = [] {
        installMsg(new SilentSink);
        rexSetStepLimit(kBudget);
        return true;
    }();
    (void)installed;
    if (size < 1) return 0;
    const uint8_t control = data[0];
    const uint8_t* rest = data + 1;
    const size_t restSize = size - 1;
    const void* sep = std::memchr(rest, 0, restSize);
    const size_t patternSize = sep ? static_cast<const uint8_t*>(sep) - rest : restSize;
    if (patternSize > kMaxPattern) return 0;
    const size_t textSize = sep ? restSize - patternSize - 1 : 0;
    if (textSize > kMaxText) return 0;

    g_charSet = (control & 32) ? 'u' : (control & 8) ? 'a' : 's';
    g_language = (control & 16) ? 'J' : 'E';
    const std::string pattern(reinterpret_cast<const char*>(rest), patternSize);
    std::unique_ptr<LRex> rex = rexCompile(pattern.c_str(), control & 7);
    if (!rex) return 0;
    LString dump;
    rex->dump(dump, 0);

    std::unique_ptr<char[]> text(new char[textSize ? textSize : 1]);
    if (textSize) std::memcpy(text.get(), static_cast<const uint8_t*>(sep) + 1, textSize);
    for (int nth : {1, 2, 3, 0, -1, -2}) {
        const Result fast = run(rex.get(), text.get(), static_cast<int>(textSize), nth, true);
        const Result plain = run(rex.get(), text.get(), static_cast<int>(textSize), nth, false);
        if (fast.exhausted || plain.exhausted) continue;
        if (fast.at != plain.at || fast.start != plain.start || fast.length != plain.length) std::abort();
    }
    int length = 0;
    rexFind(text.get(), static_cast<int>(textSize), rex.get(), &length, 1);
    return 0;
}
