// Search speed of the pattern engine against std::regex and PCRE2 (its
// interpreter, no JIT) in the same run, on generated texts of 64 KiB and 1 MiB.
// Every pattern is searched for the first match of a text whose only match is
// at its very end (or that has none), as a completion pattern is searched in
// received text. The UTF-8 rows run our engine with -chrset:2 and PCRE2 in UTF
// mode. A table of MB/s per engine closes the output.
//
// Run: see "Benchmark of the pattern engine" in README.md.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "base/chars.h"
#include "rex/nodes.h"

#ifdef VESPERLINE_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace {

// ---- generated texts ----

std::string words(std::mt19937& rng, size_t size, bool hashes) {
    static const char* const vocabulary[] = {"interface", "eth0", "status", "up", "down", "packets", "received",
                                             "errors", "0", "1532", "dropped", "bytes", "kernel", "link", "mtu",
                                             "1500", "inet", "addr", "config", "saved"};
    std::uniform_int_distribution<int> pick(0, 19);
    std::string s;
    int sinceHash = 0;
    while (s.size() < size) {
        if (hashes && sinceHash >= 28) {
            s += "root@host:~# ";
            sinceHash = 0;
        }
        const std::string w = vocabulary[pick(rng)];
        s += w;
        sinceHash += static_cast<int>(w.size()) + 1;
        s += (pick(rng) < 3) ? "\r\n" : " ";
    }
    s.resize(size);
    return s;
}

std::string sjisText(std::mt19937& rng, size_t size) {
    std::uniform_int_distribution<int> kana(0x9F, 0xF1), lead(0x88, 0x9F), second(0x40, 0xFC), pick(0, 9);
    std::string s;
    while (s.size() + 2 <= size) {
        const int k = pick(rng);
        if (k < 4) {
            s += '\x82';
            s += static_cast<char>(kana(rng));
        } else if (k < 9) {
            int b = second(rng);
            if (b == 0x7F) b = 0x80;
            s += static_cast<char>(lead(rng));
            s += static_cast<char>(b);
        } else {
            s += (pick(rng) < 5) ? " " : "\r\n";
        }
    }
    // keep the literal out of the body of the text
    for (size_t i; (i = s.find("\x8a\xae\x97\xb9")) != std::string::npos;) s[i + 1] = '\x40';
    while (s.size() < size) s += ' ';
    return s;
}

// Japanese UTF-8 text: hiragana, katakana and kanji with blanks and line ends.
std::string utf8Text(std::mt19937& rng, size_t size) {
    std::uniform_int_distribution<int> hira(0x3041, 0x3093), kata(0x30A1, 0x30F3), kanji(0x4E00, 0x9FA0), pick(0, 9);
    std::string s;
    auto put = [&](int c) {
        s += static_cast<char>(0xE0 | c >> 12);
        s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    };
    while (s.size() + 3 <= size) {
        const int k = pick(rng);
        if (k < 4) {
            put(hira(rng));
        } else if (k < 6) {
            put(kata(rng));
        } else if (k < 9) {
            put(kanji(rng));
        } else {
            s += (pick(rng) < 5) ? " " : "\r\n";
        }
    }
    // keep the literal out of the body of the text
    for (size_t i; (i = s.find("完了")) != std::string::npos;) s.replace(i, 3, "未");
    while (s.size() < size) s += ' ';
    return s;
}

struct Case {
    const char* name;
    const char* ours;        // our pattern language
    const char* ecma;        // std::regex (ECMAScript)
    bool icase;
    const char* pcre;
    uint32_t pcreOptions;
    std::string (*make)(size_t size);
    int charSet = 's';  // the character set of our engine (UTF-8 rows: PCRE2 in UTF mode)
};

std::string endRare(size_t n) {
    std::mt19937 rng(1);
    return words(rng, n - 5, false) + "#END#";
}
std::string endCommon(size_t n) {
    std::mt19937 rng(2);
    return words(rng, n - 5, true) + "#END#";
}
std::string prompt(size_t n) {
    std::mt19937 rng(3);
    return words(rng, n - 8, false) + "router> ";
}
std::string mail(size_t n) {
    std::mt19937 rng(4);
    return words(rng, n - 14, false) + "admin@example";
}
std::string login(size_t n) {
    std::mt19937 rng(5);
    return words(rng, n - 6, false) + "Login:";
}
std::string noMatch(size_t n) {
    std::mt19937 rng(6);
    return words(rng, n, true);
}
std::string sjis(size_t n) {
    std::mt19937 rng(7);
    return sjisText(rng, n - 4) + "\x8a\xae\x97\xb9";
}

std::string utf8Literal(size_t n) {
    std::mt19937 rng(8);
    return utf8Text(rng, n - 6) + "完了";
}
std::string utf8Class(size_t n) {
    std::mt19937 rng(9);
    return utf8Text(rng, n - 7) + "データ> ";  // katakana then a prompt
}

#ifdef VESPERLINE_HAVE_PCRE2
constexpr uint32_t kDotAll = PCRE2_DOTALL;
constexpr uint32_t kUtf = PCRE2_UTF;
#else
constexpr uint32_t kDotAll = 0;
constexpr uint32_t kUtf = 0;
#endif

const Case kCases[] = {
    {"literal_rare_#", "#END#", "#END#", false, "#END#", 0, endRare},
    {"literal_common_#", "#END#", "#END#", false, "#END#", 0, endCommon},
    {"prompt", "[a-z]+> $", "[a-z]+> $", false, "[a-z]+> $", 0, prompt},
    {"word@word", "\\w+@\\w+", "\\w+@\\w+", false, "\\w+@\\w+", 0, mail},
    {"ic_login", "{@ic}login:", "login:", true, "login:", 0, login},
    {"dotstar_no_match", ".*#END#", ".*#END#", false, ".*#END#", kDotAll, noMatch},
    {"sjis_literal", "\x8a\xae\x97\xb9", "\x8a\xae\x97\xb9", false, "\x8a\xae\x97\xb9", 0, sjis},
    {"utf8_literal", "完了", "完了", false, "完了", kUtf, utf8Literal, 'u'},
    // std::regex works on bytes: its class is the katakana's three-byte form
    {"utf8_class", "[ァ-ン]+> $", "(?:\xE3(?:\x82[\xA1-\xBF]|\x83[\x80-\xB3]))+> $", false, "[ァ-ン]+> $", kUtf,
     utf8Class, 'u'},
};

const size_t kSizes[] = {64 * 1024, 1024 * 1024};

std::map<std::string, std::string>& texts() {
    static std::map<std::string, std::string> t;
    return t;
}

const std::string& textFor(const Case& c, size_t size) {
    const std::string key = std::string(c.name) + "/" + std::to_string(size);
    auto& t = texts();
    auto it = t.find(key);
    if (it == t.end()) it = t.emplace(key, c.make(size)).first;
    return it->second;
}

void runOurs(benchmark::State& state, const Case* c, size_t size) {
    const std::string& text = textFor(*c, size);
    g_charSet = c->charSet;
    auto rex = rexCompile(c->ours, 0);
    int length = 0;
    const char* found = nullptr;
    for (auto _ : state) {
        found = rexFind(text.data(), static_cast<int>(text.size()), rex.get(), &length, 1);
        benchmark::DoNotOptimize(found);
    }
    g_charSet = 's';
    state.counters["found"] = found ? 1 : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void runStd(benchmark::State& state, const Case* c, size_t size) {
    const std::string& text = textFor(*c, size);
    auto flags = std::regex::ECMAScript;
    if (c->icase) flags |= std::regex::icase;
    const std::regex re(c->ecma, flags);
    bool found = false;
    for (auto _ : state) {
        std::cmatch m;
        found = std::regex_search(text.data(), text.data() + text.size(), m, re);
        benchmark::DoNotOptimize(found);
    }
    state.counters["found"] = found ? 1 : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

#ifdef VESPERLINE_HAVE_PCRE2
void runPcre2(benchmark::State& state, const Case* c, size_t size) {
    const std::string& text = textFor(*c, size);
    int error = 0;
    PCRE2_SIZE offset = 0;
    uint32_t options = c->pcreOptions | (c->icase ? PCRE2_CASELESS : 0);
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c->pcre), PCRE2_ZERO_TERMINATED, options, &error,
                                     &offset, nullptr);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    int rc = 0;
    for (auto _ : state) {
        rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, md, nullptr);
        benchmark::DoNotOptimize(rc);
    }
    state.counters["found"] = rc > 0 ? 1 : 0;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
    pcre2_match_data_free(md);
    pcre2_code_free(code);
}
#endif

// Collects the MB/s of every run and prints them as one table at the end.
class TableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            auto it = r.counters.find("bytes_per_second");
            if (it != r.counters.end()) mbps_[r.benchmark_name()] = it->second.value / 1e6;
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n| pattern | text | ours MB/s | std::regex MB/s | PCRE2 MB/s |\n|---|---|---|---|---|\n");
        for (const Case& c : kCases) {
            for (size_t size : kSizes) {
                const std::string suffix = std::string("/") + c.name + "/" + (size > 65536 ? "1MiB" : "64KiB");
                std::printf("| %s | %s |", c.name, size > 65536 ? "1 MiB" : "64 KiB");
                for (const char* engine : {"ours", "std_regex", "pcre2"}) {
                    auto it = mbps_.find(engine + suffix);
                    if (it == mbps_.end()) {
                        std::printf(" - |");
                    } else {
                        std::printf(" %.1f |", it->second);
                    }
                }
                std::printf("\n");
            }
        }
    }

private:
    std::map<std::string, double> mbps_;
};

}  // namespace

int main(int argc, char** argv) {
    for (const Case& c : kCases) {
        for (size_t size : kSizes) {
            const std::string suffix = std::string("/") + c.name + "/" + (size > 65536 ? "1MiB" : "64KiB");
            benchmark::RegisterBenchmark(("ours" + suffix).c_str(), runOurs, &c, size);
            benchmark::RegisterBenchmark(("std_regex" + suffix).c_str(), runStd, &c, size);
#ifdef VESPERLINE_HAVE_PCRE2
            benchmark::RegisterBenchmark(("pcre2" + suffix).c_str(), runPcre2, &c, size);
#endif
        }
    }
    benchmark::Initialize(&argc, argv);
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
