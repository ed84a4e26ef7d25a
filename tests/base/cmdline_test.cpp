// Command-line expansion: response files and their reader, directives, macros,
// file-name defaults, the recursion guards, and wildcard expansion.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/cmdline.h"
#include "base_test_support.h"

namespace {

LStrList makeArgs(const std::vector<std::string>& items) {
    LStrList args;
    for (const std::string& s : items) args.add(s.c_str(), static_cast<int>(s.size()));
    return args;
}

std::vector<std::string> toVector(const LStrList& args) {
    std::vector<std::string> out;
    for (int i = 0; i < args.count(); ++i) out.emplace_back(args[i]);
    return out;
}

std::vector<std::string> expand(const std::vector<std::string>& items, bool optionsOnly = false) {
    LStrList args = makeArgs(items);
    expandArgs(args, optionsOnly);
    return toVector(args);
}

std::vector<std::string> wildcards(const std::vector<std::string>& items) {
    LStrList args = makeArgs(items);
    expandWildcards(args);
    return toVector(args);
}

// The reports as "code text" lines.
std::vector<std::string> texts(const RecordingGuard& rec) {
    std::vector<std::string> out;
    for (const auto& r : rec.reports()) out.push_back(std::to_string(r.code) + " " + r.text);
    return out;
}

using Strings = std::vector<std::string>;

}  // namespace

// ---- the response-file reader ----

TEST(ResponseFile, TokensCommentsQuotesAndBlanks) {
    struct Case {
        const char* content;
        Strings args;
    };
    const Case cases[] = {
        {"-o:host1 ; comment\n", {"-o:host1"}},
        {"; a whole comment line\n-a -b\t-c\r\n\n-d", {"-a", "-b", "-c", "-d"}},
        {"ab\"c d\"e", {"abc de"}},
        {"\"say \"\"hi\"\" twice\"", {"say \"hi\" twice"}},
        {"\"\" \"\"\"\"", {"\""}},  // an empty quoted token is no argument
        {"x;y ;z", {"x;y"}},         // ';' starts a comment only where a token would start
        {"-a\x1a\r\n\x1a", {"-a"}},
        {"  #include other.rsp", {"#include", "other.rsp"}},  // no directive: ordinary text
        {"#endifx -z", {"#endifx", "-z"}},
        {"\"open quote", {"open quote"}},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        TempDir dir;
        writeFile(dir.file("r.rsp"), c.content);
        EXPECT_EQ(expand({"-f:" + dir.file("r.rsp")}), c.args) << c.content;
        EXPECT_TRUE(rec.reports().empty()) << c.content;
    }
}

TEST(ResponseFile, LineEndInsideQuotesIsReportedAndEndsThePart) {
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("q.rsp"), "-a\n\"one\ntwo\" -b");
    EXPECT_EQ(expand({"-f:" + dir.file("q.rsp")}), (Strings{"-a", "one", "two -b"}));
    ASSERT_EQ(rec.reports().size(), 1u);
    EXPECT_EQ(rec.reports()[0].code, 35000);
    EXPECT_EQ(rec.reports()[0].text, "illegal code 0Ah in \" \"");
    EXPECT_EQ(rec.reports()[0].position, "q.rsp(2)");
}

TEST(ResponseFile, ConditionalBlocks) {
    const std::string content =
        "#ifdef DEBUG\n-debug\n#else\n-release\n#endif\n"
        "#ifndef DEBUG\n-nodebug\n#endif\n-always\n";
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("c.rsp"), content);
    const std::string f = "-f:" + dir.file("c.rsp");
    EXPECT_EQ(expand({f}), (Strings{"-release", "-nodebug", "-always"}));
    EXPECT_EQ(expand({"-mdef:DEBUG", f}), (Strings{"-debug", "-always"}));
    EXPECT_EQ(expand({"-MDEF:OTHER", f}), (Strings{"-release", "-nodebug", "-always"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ResponseFile, DirectiveWarnings) {
    struct Case {
        const char* content;
        Strings args;
        Strings reports;  // "position text"
    };
    const Case cases[] = {
        {"#ifdef X\n-a\n", {}, {"w.rsp(3) EOF: missing #endif"}},
        {"#ifndef X\n-a\n#ifndef Y\n-b\n", {"-a", "-b"}, {"w.rsp(3) nested #ifdef/#ifndef",
                                                        "w.rsp(5) EOF: missing #endif"}},
        {"-a\n#else\n-b\n", {"-a", "-b"}, {"w.rsp(2) #else outside of #ifdef/#ifndef block"}},
        {"#endif -a\n", {"-a"}, {"w.rsp(1) #endif outside of #ifdef/#ifndef block"}},
        {"#ifdef X\n-a\n#else\n-b\n#else\n-c\n#endif\n",
         {"-b", "-c"},
         {"w.rsp(5) duplicate #else"}},
        {"#ifdef\n-a\n#endif\n", {}, {"w.rsp(1) illegal #ifdef/#ifndef line"}},
        {"#ifndef  X -rest\n", {"-rest"}, {"w.rsp(2) EOF: missing #endif"}},
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        TempDir dir;
        writeFile(dir.file("w.rsp"), c.content);
        EXPECT_EQ(expand({"-f:" + dir.file("w.rsp")}), c.args) << c.content;
        Strings got;
        for (const auto& r : rec.reports()) {
            EXPECT_EQ(r.code, 35000);
            got.push_back(r.position + " " + r.text);
        }
        EXPECT_EQ(got, c.reports) << c.content;
    }
}

TEST(ResponseFile, NestedFilesResolveAgainstTheIncludingFile) {
    RecordingGuard rec;
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub"));
    writeFile(dir.file("main.rsp"), "-first\n-f:sub/inner.rsp\n-last\n");
    writeFile(dir.file("sub/inner.rsp"), "-inner -F:leaf.rsp\n");
    writeFile(dir.file("sub/leaf.rsp"), "-leaf\n");
    EXPECT_EQ(expand({"-before", "/f:" + dir.file("main.rsp"), "-after"}),
              (Strings{"-before", "-first", "-inner", "-leaf", "-last", "-after"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ResponseFile, MissingFileIsReportedAndSkipped) {
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("m.rsp"), "-a\n-f:nothere.rsp\n-b\n");
    EXPECT_EQ(expand({"-f:" + dir.file("m.rsp")}), (Strings{"-a", "-b"}));
    ASSERT_EQ(rec.reports().size(), 1u);
    EXPECT_EQ(rec.reports()[0].code, 17000);
    EXPECT_NE(rec.reports()[0].text.find(dir.file("nothere.rsp")), std::string::npos);
    EXPECT_EQ(rec.reports()[0].position, "m.rsp(2)");
}

TEST(ResponseFile, ProgramFolder) {
    std::random_device rd;
    const std::string name = "vl_cmdline_" + std::to_string(rd()) + ".rsp";
    const LString folder = programDir();
    ASSERT_GT(folder.len(), 0);
    EXPECT_EQ(folder[folder.len() - 1], '/');
    const std::string path = std::string(folder.data()) + name;
    writeFile(path, "-from-program-folder\n");
    RecordingGuard rec;
    EXPECT_EQ(expand({"-f:@" + name}), Strings{"-from-program-folder"});
    std::filesystem::remove(path);
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ResponseFile, SelfInclusionStopsAtDepth32) {
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("loop.rsp"), "-f:loop.rsp\n-x\n");
    const Strings got = expand({"-f:" + dir.file("loop.rsp"), "-after"});
    ASSERT_EQ(got.size(), 33u);
    EXPECT_EQ(got.back(), "-after");
    EXPECT_EQ(std::count(got.begin(), got.end(), "-x"), 32);
    ASSERT_EQ(rec.reports().size(), 1u);
    EXPECT_EQ(rec.reports()[0].code, 15000);
    EXPECT_EQ(rec.reports()[0].text, "response files nested too deeply: " + dir.file("loop.rsp"));
    EXPECT_EQ(rec.reports()[0].position, "loop.rsp(1)");
}

TEST(ResponseFile, MutualInclusionStopsToo) {
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("a.rsp"), "-a -f:b.rsp");
    writeFile(dir.file("b.rsp"), "-b -f:a.rsp");
    const Strings got = expand({"-f:" + dir.file("a.rsp"), "-after"});
    EXPECT_EQ(got.size(), 33u);
    EXPECT_EQ(got.back(), "-after");
    EXPECT_EQ(texts(rec), Strings{"15000 response files nested too deeply: " + dir.file("a.rsp")});
}

// ---- macros ----

TEST(Macros, ExpansionIsReadAsResponseText) {
    struct Case {
        Strings args;
        Strings expected;
        Strings reports;
    };
    const Case cases[] = {
        {{"-mdef:GREET,who=hello {who}", "${GREET,world}"}, {"hello", "world"}, {}},
        {{"-rspdef:GREET, a, b={b}+{a}", "${GREET,1,2}"}, {"2+1"}, {}},
        {{"-mdef:P,x={x}", "${P,{x}}"}, {"{x}"}, {}},  // an argument is not substituted again
        {{"-mdef:GREET,who=hello {who}", "${GREET}"},
         {"hello", "{who}"},
         {"35000 macro parameter number mismatch (1 and 0)"}},
        {{"-mdef:A==B=val", "x${A=B}y"}, {"xvaly"}, {}},
        {{"-mdef:E", "[${E}]"}, {"[]"}, {}},
        {{"-mdef:N=1", "${UNKNOWN}", "${N}${N}"}, {"${UNKNOWN}", "11"}, {}},
        {{"${N}", "-mdef:N=1"}, {"${N}"}, {}},  // defined too late
        {{"-mdef:N=1", "-mdef:N=2", "${N}"}, {"2"}, {}},
        {{"-mdef:O=-o:h1 -o:h2", "${O}"}, {"-o:h1", "-o:h2"}, {}},
        {{"-mdef:S=${S}", "${S}"}, {"${S}"}, {}},  // expands to itself: nothing changes
    };
    for (const Case& c : cases) {
        RecordingGuard rec;
        EXPECT_EQ(expand(c.args), c.expected) << c.args.back();
        EXPECT_EQ(texts(rec), c.reports) << c.args.back();
    }
}

TEST(Macros, QuotedPartStaysOneArgument) {
    RecordingGuard rec;
    TempDir dir;
    writeFile(dir.file("m.rsp"), "-mdef:GREET,who=\"hello {who}\"\n\"${GREET,world}\" ${GREET,you}\n");
    EXPECT_EQ(expand({"-f:" + dir.file("m.rsp")}), (Strings{"hello world", "hello", "you"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Macros, SelfReferenceStopsAtDepth32) {
    RecordingGuard rec;
    const Strings got = expand({"-mdef:A=x${A}", "${A}", "-after"});
    EXPECT_EQ(got, Strings{"-after"});
    ASSERT_EQ(rec.reports().size(), 1u);
    EXPECT_EQ(rec.reports()[0].code, 35000);
    EXPECT_EQ(rec.reports()[0].text, "macro expansion too deep: " + std::string(32, 'x') + "${A}");
}

// ---- file-name defaults and the argument list ----

TEST(ExpandArgs, BaseDirectoryAndExtensionApplyToFileArguments) {
    RecordingGuard rec;
    EXPECT_EQ(expand({"a", "-fbd:/data", "-fex:.cmd", "b", "/abs/c", "-opt", "-fbd:/x/", "d",
                      "-fbd:", "-fex:", "e"}),
              (Strings{"a", "/data/b.cmd", "/abs/c.cmd", "-opt", "/x/d.cmd", "e"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ExpandArgs, OptionsOnlyStopsAtTheFirstFile) {
    EXPECT_EQ(expand({"-a", "file", "-b"}, true), Strings{"-a"});
    EXPECT_EQ(expand({"-a", "file", "-b"}, false), (Strings{"-a", "file", "-b"}));
    EXPECT_EQ(expand({}), Strings{});
}

TEST(ExpandArgs, AbsolutePaths) {
    EXPECT_TRUE(isAbsolutePath("/etc/hosts"));
    EXPECT_FALSE(isAbsolutePath("etc/hosts"));
    EXPECT_FALSE(isAbsolutePath("./x"));
    EXPECT_FALSE(isAbsolutePath(""));
}

// ---- wildcards ----

namespace {
// A folder tree for the wildcard tests.
class Tree {
public:
    explicit Tree(const Strings& files) {
        for (const std::string& f : files) {
            std::filesystem::create_directories(std::filesystem::path(dir.file(f)).parent_path());
            writeFile(dir.file(f), "x");
        }
    }
    std::string path(const std::string& name) const { return dir.file(name); }
    TempDir dir;
};
}  // namespace

TEST(Wildcards, EmptyFolderWarnsUnlessNwfneStandsAnywhere) {
    TempDir dir;
    const std::string pattern = dir.file("*.txt");
    {
        RecordingGuard rec;
        EXPECT_EQ(wildcards({"-a", pattern, "b"}), (Strings{"-a", "b"}));
        EXPECT_EQ(texts(rec), Strings{"35000 no file hit in " + pattern});
    }
    for (const Strings& args : {Strings{pattern, "-nwfne"}, Strings{"/NWFNE", pattern},
                                Strings{"-nwfne:1", pattern}}) {
        RecordingGuard rec;
        EXPECT_EQ(wildcards(args), Strings{});
        EXPECT_TRUE(rec.reports().empty());
    }
}

TEST(Wildcards, MatchesSortedWithoutCase) {
    Tree t({"b.txt", "A.txt", "c.TXT", "a2.txt", "note.log", "x.txt.bak", "sub/d.txt"});
    RecordingGuard rec;
    EXPECT_EQ(wildcards({t.path("*.txt")}),
              (Strings{t.path("A.txt"), t.path("a2.txt"), t.path("b.txt")}));
    EXPECT_EQ(wildcards({t.path("?.txt")}), (Strings{t.path("A.txt"), t.path("b.txt")}));
    EXPECT_EQ(wildcards({t.path("*.t?t*")}),
              (Strings{t.path("A.txt"), t.path("a2.txt"), t.path("b.txt"), t.path("x.txt.bak")}));
    EXPECT_EQ(wildcards({t.path("note.log"), "-x*"}), (Strings{t.path("note.log"), "-x*"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Wildcards, SubfoldersInAStableOrder) {
    Tree t({"top.txt", "sub1/x.txt", "Sub0/y.txt", "sub1/deep/z.txt", "sub1/deep/other.log",
            ".hid/h.txt", "Sub0/.h2/q.txt"});
    RecordingGuard rec;
    const std::string pattern = t.path("*.txt");
    const Strings all{t.path("top.txt"), t.path("Sub0/y.txt"), t.path("sub1/x.txt"),
                      t.path("sub1/deep/z.txt")};
    EXPECT_EQ(wildcards({"-sub", pattern}), all);
    EXPECT_EQ(wildcards({pattern, "-SUB"}), all);
    EXPECT_EQ(wildcards({"-sub:1", pattern}), (Strings{all[0], all[1], all[2]}));
    EXPECT_EQ(wildcards({"-sub:0", pattern}), Strings{all[0]});
    EXPECT_EQ(wildcards({pattern}), Strings{all[0]});
    for (int i = 0; i < 3; ++i) EXPECT_EQ(wildcards({"-sub", pattern}), all);
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Wildcards, HiddenFilesOnlyWithHidden) {
    Tree t({".secret.txt", "plain.txt"});
    RecordingGuard rec;
    const std::string pattern = t.path("*.txt");
    EXPECT_EQ(wildcards({pattern}), Strings{t.path("plain.txt")});
    EXPECT_EQ(wildcards({pattern, "-hidden"}), (Strings{t.path(".secret.txt"), t.path("plain.txt")}));
    EXPECT_EQ(wildcards({"-system", pattern}), Strings{t.path("plain.txt")});
    EXPECT_TRUE(rec.reports().empty());
}

TEST(Wildcards, FoldersAreNoFiles) {
    Tree t({"dir.txt/inside", "file.txt"});
    RecordingGuard rec;
    EXPECT_EQ(wildcards({t.path("*.txt")}), Strings{t.path("file.txt")});
    EXPECT_EQ(wildcards({t.path("*.txt"), "-hidden"}), Strings{t.path("file.txt")});
}
