// The catalogue of texts: every entry complete in both languages with the
// same conversions, the reading of printf conversions that the compile-time
// check of call sites relies on, and the choice of the language by locale.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "base/catalogue.h"
#include "base/language.h"
#include "base/msg.h"
#include "base_test_support.h"

namespace {

// The conversions of a format as written ("%-8s", "%02X", ...), in order.
std::vector<std::string> conversionsOf(const char* text) {
    std::vector<std::string> out;
    for (FormatConversion c = nextConversion(text, 0); c.start >= 0; c = nextConversion(text, c.end))
        out.emplace_back(text + c.start, static_cast<size_t>(c.end - c.start));
    return out;
}

bool hasKanaOrKanji(const std::string& s) {
    // UTF-8 lead bytes E3 (kana, CJK punctuation), E4-E9 (kanji) and the
    // full-width forms EF BC/BD.
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        const auto b = static_cast<unsigned char>(s[i]), n = static_cast<unsigned char>(s[i + 1]);
        if ((b >= 0xE3 && b <= 0xE9) || (b == 0xEF && (n == 0xBC || n == 0xBD))) return true;
    }
    return false;
}

TEST(Catalogue, EveryEntryHasBothTextsWithTheSameConversions) {
    std::set<std::string> names;
    for (const CatalogueEntry& e : kCatalogue) {
        SCOPED_TRACE(e.name);
        EXPECT_TRUE(names.insert(e.name).second);
        ASSERT_NE(e.japanese, nullptr);
        ASSERT_NE(e.english, nullptr);
        EXPECT_GT(std::strlen(e.japanese), 0u);
        EXPECT_GT(std::strlen(e.english), 0u);
        EXPECT_EQ(conversionsOf(e.japanese), conversionsOf(e.english));
        // A conversion cut off at the end of a text would read past it.
        for (const char* text : {e.japanese, e.english})
            for (FormatConversion c = nextConversion(text, 0); c.start >= 0; c = nextConversion(text, c.end))
                EXPECT_NE(c.letter, 0) << text;
        // English texts are read by people without Japanese.
        EXPECT_FALSE(hasKanaOrKanji(e.english)) << e.english;
        EXPECT_TRUE(e.code == 0 || (e.code >= 10000 && e.code <= 39998)) << e.code;
    }
    EXPECT_EQ(static_cast<int>(names.size()), kCatalogueSize);
}

// Texts live in the catalogue: no line of code outside it holds Japanese (a
// text written at its call site would show untranslated in English runs).
TEST(Catalogue, NoJapaneseTextOutsideTheCatalogue) {
    namespace fs = std::filesystem;
    int files = 0;
    for (const char* folder : {"base", "rex", "app"}) {
        for (const auto& entry : fs::recursive_directory_iterator(std::string(VESPERLINE_SOURCE_DIR) + "/" + folder)) {
            const fs::path& path = entry.path();
            if (path.extension() != ".cpp" && path.extension() != ".h") continue;
            ++files;
            std::ifstream in(path);
            int number = 0;
            for (std::string line; std::getline(in, line);) {
                ++number;
                const size_t code = line.find_first_not_of(" \t");
                if (code == std::string::npos || line.compare(code, 2, "//") == 0) continue;
                EXPECT_FALSE(hasKanaOrKanji(line.substr(0, line.find("//")))) << path.string() << ":" << number;
            }
        }
    }
    EXPECT_GT(files, 50);
}

TEST(Catalogue, ConversionsAsWritten) {
    struct Case { const char* text; std::vector<std::string> conversions; };
    const Case cases[] = {
        {"plain", {}},
        {"100%% done", {}},
        {"%s and %d", {"%s", "%d"}},
        {"%Xh, %02X, %-8s, %5.2f", {"%X", "%02X", "%-8s", "%5.2f"}},
        {"%ld %lld %zu %hhd %c", {"%ld", "%lld", "%zu", "%hhd", "%c"}},
        {"'%.5s' %*d %%d", {"%.5s", "%*d"}},
        {"ends in %", {"%"}},
    };
    for (const Case& c : cases) EXPECT_EQ(conversionsOf(c.text), c.conversions) << c.text;
    EXPECT_EQ(nextConversion("%*.*s", 0).stars, 2);
    EXPECT_EQ(nextConversion("ends in %", 0).letter, 0);
}

// The check that keeps a call site's arguments and its text in step works
// while the call site is compiled; these are its verdicts.
namespace cd = catalogue_detail;
static_assert(cd::argumentsFit<const char*, int>("%s: %d"));
static_assert(cd::argumentsFit<char*, unsigned char, long>("%s %02X %ld"));
static_assert(cd::argumentsFit<int, const char*>("%*s"));
static_assert(cd::argumentsFit<>("no conversion, 100%%"));
static_assert(!cd::argumentsFit<int>("%s"));
static_assert(!cd::argumentsFit<const char*>("%d"));
static_assert(!cd::argumentsFit<int>("%ld"));
static_assert(!cd::argumentsFit<long>("%d"));
static_assert(!cd::argumentsFit<const char*>("%s %s"));
static_assert(!cd::argumentsFit<const char*, int>("%s"));
static_assert(!cd::argumentsFit<std::string>("%s"));
static_assert(!cd::argumentsFit<int*>("%n"));

TEST(Catalogue, TextsFollowTheLanguage) {
    Restore<int> language(g_language, 'J');
    EXPECT_STREQ(tr(Tx::noColor), "色の指定が１つもありません");
    EXPECT_STREQ(textf(Tx::invalidNumber, -7).data(), "数値が正しくありません: -7");
    g_language = 'E';
    EXPECT_STREQ(tr(Tx::noColor), "no colour given");
    EXPECT_STREQ(textf(Tx::invalidNumber, -7).data(), "invalid number: -7");
    // A long text leaves the stack buffer for the heap, whole.
    const std::string name(1000, 'n');
    const TextBuffer shortOne(Tx::connectionNotFound, "dev");
    const TextBuffer longOne(Tx::connectionNotFound, name.c_str());
    EXPECT_STREQ(shortOne.data(), "connection dev not found");
    EXPECT_EQ(std::string(longOne.data()), "connection " + name + " not found");
}

TEST(Language, TheFirstNonEmptyLocaleVariableDecides) {
    struct Case { const char* lcAll; const char* lcMessages; const char* lang; int language; };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 'J'},
        {"", "", "", 'J'},
        {nullptr, nullptr, "C", 'J'},
        {nullptr, nullptr, "C.UTF-8", 'J'},
        {nullptr, nullptr, "C.utf8", 'J'},
        {nullptr, nullptr, "POSIX", 'J'},
        {nullptr, nullptr, "ja_JP.UTF-8", 'J'},
        {nullptr, nullptr, "ja_JP.SJIS", 'J'},
        {nullptr, nullptr, "ja", 'J'},
        {nullptr, nullptr, "en_US.UTF-8", 'E'},
        {nullptr, nullptr, "de_DE@euro", 'E'},
        {nullptr, nullptr, "Chinese", 'E'},
        {nullptr, nullptr, "CC", 'E'},
        {"en_GB.UTF-8", nullptr, "ja_JP.UTF-8", 'E'},
        {"", "fr_FR.UTF-8", "ja_JP.UTF-8", 'E'},
        {"C", "fr_FR.UTF-8", "en_US.UTF-8", 'J'},
        {"", "ja_JP.eucJP", "en_US.UTF-8", 'J'},
    };
    for (const Case& c : cases)
        EXPECT_EQ(languageForLocale(c.lcAll, c.lcMessages, c.lang), c.language)
            << (c.lcAll ? c.lcAll : "-") << " " << (c.lcMessages ? c.lcMessages : "-") << " " << (c.lang ? c.lang : "-");
}

TEST(Language, NamesOfLang) {
    struct Case { const char* name; int language; };
    const Case cases[] = {{"ja", 'J'}, {"JA", 'J'}, {"en", 'E'}, {"En", 'E'}, {"", 0},
                          {"j", 0},    {"jap", 0},  {"english", 0}, {"fr", 0}, {nullptr, 0}};
    for (const Case& c : cases) EXPECT_EQ(languageOfName(c.name), c.language) << (c.name ? c.name : "null");
}

}  // namespace
