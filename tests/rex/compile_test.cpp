// The compiler: trees as dumps, and the warnings every defect gives (English
// and Japanese). A pattern always compiles; only the empty one gives null.
#include <gtest/gtest.h>

#include "rex/compile.h"
#include "rex_support.h"

namespace {

struct DumpCase { const char* pattern; const char* dump; uint32_t flags = 0; };

// Trees by construct, in the debug format of dump().
const DumpCase kDumps[] = {
    // literals merge into one node
    {"#END#", "flat: btc=0 {#END#} len=5\n"},
    {"abc\\n", "flat: btc=0 {abc\r\n} len=5\n"},
    {"{@ic}ab{@c}cd", "seq: st=N,N\n flat: btc=0 {ab} len=2\n flat: btc=0 {cd} len=2\n"},
    {"a.c", "seq: st=N,N\n flat: btc=0 {a} len=1\n seq: st=N,N\n  chars: btc=0 [^]\n  flat: btc=0 {c} len=1\n"},
    // alternation
    {"a|b", "or: next_idx=0\n flat: btc=0 {a} len=1\n flat: btc=0 {b} len=1\n"},
    {"|a", "empty: btc=0\n"},
    // quantifiers
    {"a*b", "seq: st=N,N\n rep: modF=0 btRep=-1, 0-2147483647\n  flat: btc=0 {a} len=1\n flat: btc=0 {b} len=1\n"},
    {"x+?", "rep: modF=1 btRep=-1, 1-2147483647\n flat: btc=0 {x} len=1\n"},
    {"x{,4}", "rep: modF=0 btRep=-1, 0-4\n flat: btc=0 {x} len=1\n"},
    {"x{5,2}", "rep: modF=0 btRep=-1, 5-5\n flat: btc=0 {x} len=1\n"},
    {"x{2,-1}", "rep: modF=0 btRep=-1, 2-2\n flat: btc=0 {x} len=1\n"},
    {"\x83\x41+", "rep: modF=0 btRep=-1, 1-2147483647\n flat: btc=0 {\x83\x41} len=2\n"},
    // sets
    {"[^a-c\\n]", "chars: btc=0 [^61h-63h,Ah]\n"},
    {"[a-]", "chars: btc=0 [61h-5Dh]\n"},
    {"[\\]\\-]", "chars: btc=0 [5Dh,2Dh]\n"},
    {"[\\d]", "chars: btc=0 [5Ch,64h]\n"},
    {"[\x83\x41-\x83\x93]", "chars: btc=0 [8341h-8393h]\n"},
    {"[\\X8140\\x41]", "chars: btc=0 [8140h,41h]\n"},
    // groups, names, references
    {"(a)(?:b)(c){=last}{:last}\\1",
     "seq: st=N,N\n brace: 0 name=''\n  flat: btc=0 {a} len=1\n seq: st=N,N\n  brace: -1 name=''\n"
     "   flat: btc=0 {b} len=1\n  seq: st=N,N\n   brace: 1 name='last'\n    flat: btc=0 {c} len=1\n"
     "   seq: st=N,N\n    ref: 'last' btc=0\n    ref: '1' btc=0\n"},
    {"{@r:host}", "ref: 'host' btc=0\n"},
    {"(", "brace: 0 name=''\n empty: btc=0\n"},
    // assertions and anchors
    {"(?<=a)b", "seq: st=N,N\n cmp: typ='=' spRev=1 btc=0\n  flat: btc=0 {a} len=1\n flat: btc=0 {b} len=1\n"},
    {"(*!a)", "cmp: typ='!' spRev=1 btc=0\n flat: btc=0 {a} len=1\n"},
    {"(?>a)", "cmp: typ='>' spRev=0 btc=0\n flat: btc=0 {a} len=1\n"},
    {"(?topl)", "cmp: typ='\x01' spRev=0 btc=0\n"},
    {"(?ends)", "cmp: typ='$' spRev=0 btc=0\n"},
    {"^\\b", "seq: st=N,N\n cmp: typ='^' spRev=0 btc=0\n cmp: typ='b' spRev=0 btc=0\n"},
    {"(?cx:a)", "seq: st=N,N\n cmp: typ='!' spRev=0 btc=0\n  flat: btc=0 {a} len=1\n chars: btc=0 [^]\n"},
    // comments are skipped
    {"a(?#note)b", "flat: btc=0 {ab} len=2\n"},
    // an ignore pattern stops merging; one that no node takes is freed (ASan checks)
    {"{@ign( )}ab", "seq: st=N,N\n flat: btc=0 {a} len=1\n flat: btc=0 {b} len=1\n"},
    {"(?:{@ign( )})a", "seq: st=N,N\n brace: -1 name=''\n  empty: btc=0\n flat: btc=0 {a} len=1\n"},
    {"a{@ign( )}", "flat: btc=0 {a} len=1\n"},
    // the type boundary flag wraps the tree
    {"ab", "seq: st=N,N\n cmp: typ='c' spRev=0 btc=0\n seq: st=N,N\n  flat: btc=0 {ab} len=2\n  cmp: typ='c' spRev=0 btc=0\n",
     rexTypeBoundary},
};

TEST(RexCompile, DumpsByConstruct) {
    CharSetGuard cs('s');
    for (const DumpCase& c : kDumps) {
        Warnings w;
        auto rex = rexCompile(c.pattern, c.flags);
        ASSERT_TRUE(rex) << c.pattern;
        EXPECT_EQ(dumpOf(rex.get()), c.dump) << "pattern " << c.pattern;
    }
    EXPECT_EQ(rexCompile("", 0), nullptr);
    Warnings w;
    EXPECT_EQ(rexCompile("*", rexTypeBoundary)->kind(), 2);  // a wholly illegal pattern never matches
}

struct WarnCase {
    const char* pattern;
    const char* warnings;  // joined by "\n"
    int language = 'E';
};

// (Patterns whose warnings the match table checks are not repeated here.)
const WarnCase kWarnings[] = {
    {"(a|)", "35000: empty item in regular expression '(a|)'"},
    {"a**", "35001: illegal regular expression: '*'\n35000: extra char(s) '*' in regular expression 'a**'"},
    {"a)", "35000: extra char(s) ')' in regular expression 'a)'"},
    {"(a", "35000: missing ')' in regular expression '(a'"},
    {"x{2,-1}", "35000: {m,n}: n < 0 in 'x{2,-1}'"},
    {"x{,}", "35000: illegal use of '{' in 'x{,}'"},
    {"x{,-1}", "35000: illegal use of '{' in 'x{,-1}'"},
    {"x{2,3", "35000: illegal use of '{' in 'x{2,3'"},
    {"{@foo", "35000: ignore illegal directive {@...} in '{@foo'"},
    {"a(?x)",
     "35000: ignore illegal '(?' expression in 'a(?x)'\n35000: missing ')' in regular expression 'a(?x)'\n"
     "35001: illegal regular expression: '?x)'\n35000: extra char(s) '?x)' in regular expression 'a(?x)'"},
    {"(?<x)", "35000: missing ')' in regular expression '(?<x)'\n35000: extra char(s) '?<x)' in regular expression '(?<x)'"},
    {"(*x)",
     "35000: ignore illegal '(*' expression in '(*x)'\n35000: missing ')' in regular expression '(*x)'\n"
     "35000: extra char(s) '*x)' in regular expression '(*x)'"},
    {"a\\", "35000: unknown escape '\\' in regular expression"},
    {"\\xZZ", "35000: illegal escape: '\\x'+5A+5A\n35000: unknown escape '\\x' in regular expression"},
    {"[a-]", "35000: illegal [a-b] expression: 61h > 5Dh: [a-]\n35000: illegal [ ] expression (missing ']'): '[a-]'"},
    {"x[abc", "35000: illegal [ ] expression (missing ']'): '[abc'"},
    {"[a-", "35000: illegal [ ] expression (missing right arg of '-'): '[a-'\n"
            "35000: illegal [ ] expression (missing ']'): '[a-'"},
    {"{:}", "35000: name string is empty\n35000: ignore illegal {:name} expression in '{:}'"},
    {"{:ab", "35000: missing '}'\n35000: ignore illegal {:name} expression in '{:ab'"},
    {"(a){=}", "35000: name string is empty\n35000: ignore illegal ( ){=name} expression in '(a){=}'"},
    {"(a){=1x}", "35000: ignore illegal ( ){=name} expression in '(a){=1x}' (name cannot be a number)"},
    {"{@ign(x", "35000: missing ')}' after '{@ign(': '{@ign(x'"},
    {"{@ign(x)}{@ign(y)}a", "35000: duplicate '{@ign(...)}'"},
    // Japanese
    {"(a", "35000: 正規表現「(a」に対応する「)」がありません", 'J'},
    {"|a", "35000: 余計な文字「|a」があります (正規表現 |a 内)", 'J'},
    {"a**", "35001: 正規表現が正しくありません:「*」\n35000: 余計な文字「*」があります (正規表現 a** 内)", 'J'},
    {"(a|)", "35000: 正規表現「(a|)」は空の項目を含んでいます", 'J'},
    {"(a){=}", "35000: 名前文字列が空です\n35000: 「(a){=}」中の不正な ( ){=name} 表現を無視します", 'J'},
    {"(a){=1}", "35000: 「(a){=1}」中の不正な ( ){=name} 表現を無視します (数値の名前は不可)", 'J'},
    {"{:ab", "35000: 「}」がありません\n35000: ignore illegal {:name} expression in '{:ab'", 'J'},
};

TEST(RexCompile, WarningsByLanguage) {
    for (const WarnCase& c : kWarnings) {
        CharSetGuard cs('s', c.language);
        Warnings w;
        EXPECT_TRUE(rexCompile(c.pattern, 0)) << c.pattern;
        EXPECT_EQ(w.joined(), c.warnings) << "pattern " << c.pattern;
    }
}

}  // namespace
