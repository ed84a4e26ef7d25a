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

Strings run(void (*expander)(LStrList&), const Strings& items) {
    LStrList args;
    for (const std::string& s : items) args.add(s.c_str(), static_cast<int>(s.size()));
    expander(args);
    Strings out;
    for (int i = 0; i < args.count(); ++i) out.emplace_back(args[i]);
    return out;
}

Strings expand(const Strings& items) {
    return run([](LStrList& a) { expandArgs(a, false); }, items);
}

Strings wildcards(const Strings& items) { return run(expandWildcards, items); }

// The reports as "position code text" lines.
Strings placed(const MsgCapture& rec) {
    Strings out;
    for (const auto& r : rec.reports()) out.push_back(r.position + " " + std::to_string(r.code) + " " + r.text);
    return out;
}

// A folder tree of files holding "x".
struct Tree {
    explicit Tree(const Strings& files) {
        for (const std::string& f : files) {
            std::filesystem::create_directories(std::filesystem::path(dir.file(f)).parent_path());
            writeFile(dir.file(f), "x");
        }
    }
    TempDir dir;
};

}  // namespace

// ---- the response-file reader ----

TEST(ResponseFile, TokensDirectivesAndTheirWarnings) {
    struct Case {
        Strings before;  // arguments before "-f:r.rsp"
        const char* content;
        Strings args;
        Strings reports;  // "position code text"
    };
    const Case cases[] = {
        // tokens, comments, quotes and blanks
        {{}, "-o:host1 ; comment\n", {"-o:host1"}, {}},
        {{}, "; a whole comment line\n-a -b\t-c\r\n\n-d", {"-a", "-b", "-c", "-d"}, {}},
        {{}, "ab\"c d\"e", {"abc de"}, {}},
        {{}, "\"say \"\"hi\"\" twice\"", {"say \"hi\" twice"}, {}},
        {{}, "\"\" \"\"\"\"", {"\""}, {}},  // an empty quoted token is no argument
        {{}, "x;y ;z", {"x;y"}, {}},         // ';' starts a comment only where a token would start
        {{}, "-a\x1a\r\n\x1a", {"-a"}, {}},
        {{}, "\"open quote", {"open quote"}, {}},
        {{}, "-a\n\"one\ntwo\" -b", {"-a", "one", "two -b"}, {"r.rsp(2) 35000 illegal code 0Ah in \" \""}},
        // lines starting with '#' that are no directive are ordinary text
        {{}, "  #include other.rsp", {"#include", "other.rsp"}, {}},
        {{}, "#endifx -z", {"#endifx", "-z"}, {}},
        // conditional blocks
        {{}, "#ifdef DEBUG\n-debug\n#else\n-release\n#endif\n#ifndef DEBUG\n-nodebug\n#endif\n-always\n",
         {"-release", "-nodebug", "-always"}, {}},
        {{"-mdef:DEBUG"}, "#ifdef DEBUG\n-debug\n#else\n-release\n#endif\n#ifndef DEBUG\n-nodebug\n#endif\n",
         {"-debug"}, {}},
        {{"-MDEF:OTHER"}, "#ifdef DEBUG\n-debug\n#else\n-release\n#endif\n", {"-release"}, {}},
        {{}, "#ifdef X\n-a\n", {}, {"r.rsp(3) 35000 EOF: missing #endif"}},
        {{}, "#ifndef X\n-a\n#ifndef Y\n-b\n", {"-a", "-b"},
         {"r.rsp(3) 35000 nested #ifdef/#ifndef", "r.rsp(5) 35000 EOF: missing #endif"}},
        {{}, "-a\n#else\n-b\n", {"-a", "-b"}, {"r.rsp(2) 35000 #else outside of #ifdef/#ifndef block"}},
        {{}, "#endif -a\n", {"-a"}, {"r.rsp(1) 35000 #endif outside of #ifdef/#ifndef block"}},
        {{}, "#ifdef X\n-a\n#else\n-b\n#else\n-c\n#endif\n", {"-b", "-c"}, {"r.rsp(5) 35000 duplicate #else"}},
        {{}, "#ifdef\n-a\n#endif\n", {}, {"r.rsp(1) 35000 illegal #ifdef/#ifndef line"}},
        {{}, "#ifndef  X -rest\n", {"-rest"}, {"r.rsp(2) 35000 EOF: missing #endif"}},
        // macros in quoted parts
        {{}, "-mdef:GREET,who=\"hello {who}\"\n\"${GREET,world}\" ${GREET,you}\n", {"hello world", "hello", "you"}, {}},
        // a missing nested file
        {{}, "-a\n-f:nothere.rsp\n-b\n", {"-a", "-b"}, {"r.rsp(2) 17000 cannot open <dir>/nothere.rsp: No such file or directory"}},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        TempDir dir;
        writeFile(dir.file("r.rsp"), c.content);
        Strings args = c.before;
        args.push_back("-f:" + dir.file("r.rsp"));
        EXPECT_EQ(expand(args), c.args) << c.content;
        Strings reports = c.reports;
        for (std::string& r : reports) {
            if (const size_t at = r.find("<dir>/"); at != std::string::npos) r.replace(at, 6, dir.file(""));
        }
        EXPECT_EQ(placed(rec), reports) << c.content;
    }
}

TEST(ResponseFile, NestedFilesResolveAgainstTheIncludingFile) {
    MsgCapture rec;
    TempDir dir;
    std::filesystem::create_directories(dir.file("sub"));
    writeFile(dir.file("main.rsp"), "-first\n-f:sub/inner.rsp\n-last\n");
    writeFile(dir.file("sub/inner.rsp"), "-inner -F:leaf.rsp\n");
    writeFile(dir.file("sub/leaf.rsp"), "-leaf\n");
    EXPECT_EQ(expand({"-before", "/f:" + dir.file("main.rsp"), "-after"}),
              (Strings{"-before", "-first", "-inner", "-leaf", "-last", "-after"}));
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ResponseFile, ProgramFolder) {
    const std::string name = "vl_cmdline_" + std::to_string(std::random_device()()) + ".rsp";
    const LString folder = programDir();
    ASSERT_GT(folder.len(), 0);
    EXPECT_EQ(folder[folder.len() - 1], '/');
    const std::string path = std::string(folder.data()) + name;
    writeFile(path, "-from-program-folder\n");
    MsgCapture rec;
    EXPECT_EQ(expand({"-f:@" + name}), Strings{"-from-program-folder"});
    std::filesystem::remove(path);
    EXPECT_TRUE(rec.reports().empty());
}

TEST(ResponseFile, InclusionLoopsStopAtDepth32) {
    TempDir dir;
    writeFile(dir.file("loop.rsp"), "-f:loop.rsp\n-x\n");
    writeFile(dir.file("a.rsp"), "-a -f:b.rsp");
    writeFile(dir.file("b.rsp"), "-b -f:a.rsp");
    // included twice: the second includes below the guard are skipped, instead
    // of branching 2^32 times
    writeFile(dir.file("twice.rsp"), "-f:twice.rsp -f:twice.rsp -x");
    for (const char* file : {"loop.rsp", "a.rsp", "twice.rsp"}) {
        MsgCapture rec;
        const Strings got = expand({"-f:" + dir.file(file), "-after"});
        EXPECT_EQ(got.size(), 33u);  // 32 levels, each giving one argument
        EXPECT_EQ(got.back(), "-after");
        const std::string again = file[0] == 'a' ? "b.rsp(1)" : std::string(file) + "(1)";
        EXPECT_EQ(placed(rec), Strings{again + " 15000 response files nested too deeply: " + dir.file(file)});
    }
}

// ---- macros ----

TEST(Macros, ExpansionIsReadAsResponseText) {
    struct Case { Strings args; Strings expected; Strings reports; };
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
        {{"-mdef:A=x${A}", "${A}", "-after"}, {"-after"},
         {"35000 macro expansion too deep: " + std::string(32, 'x') + "${A}"}},
        // a macro that uses itself twice doubles per level: stopped by its size
        {{"-mdef:A=${A}${A}", "${A}", "-after"}, {"-after"}, {"35000 macro expansion too deep: ${A}"}},
        {{"-mdef:A=${A} ${A}", "${A}", "-after"}, {"-after"}, {"35000 macro expansion too deep: ${A}"}},
    };
    for (const Case& c : cases) {
        MsgCapture rec;
        EXPECT_EQ(expand(c.args), c.expected) << c.args.back();
        EXPECT_EQ(rec.texts(), c.reports) << c.args.back();
    }
}

// ---- file-name defaults and the argument list ----

TEST(ExpandArgs, FileNameDefaultsAndOptionsOnly) {
    MsgCapture rec;
    EXPECT_EQ(expand({"a", "-fbd:/data", "-fex:.cmd", "b", "/abs/c", "-opt", "-fbd:/x/", "d", "-fbd:", "-fex:", "e"}),
              (Strings{"a", "/data/b.cmd", "/abs/c.cmd", "-opt", "/x/d.cmd", "e"}));
    EXPECT_EQ(run([](LStrList& a) { expandArgs(a, true); }, {"-a", "file", "-b"}), Strings{"-a"});
    EXPECT_EQ(expand({}), Strings{});
    EXPECT_TRUE(rec.reports().empty());
    EXPECT_TRUE(isAbsolutePath("/etc/hosts"));
    for (const char* p : {"etc/hosts", "./x", ""}) EXPECT_FALSE(isAbsolutePath(p)) << p;
}

// ---- wildcards ----

TEST(Wildcards, EmptyFolderWarnsUnlessNwfneStandsAnywhere) {
    TempDir dir;
    const std::string pattern = dir.file("*.txt");
    {
        MsgCapture rec;
        EXPECT_EQ(wildcards({"-a", pattern, "b"}), (Strings{"-a", "b"}));
        EXPECT_EQ(rec.texts(), Strings{"35000 no file hit in " + pattern});
    }
    for (const Strings& args : {Strings{pattern, "-nwfne"}, Strings{"/NWFNE", pattern}, Strings{"-nwfne:1", pattern}}) {
        MsgCapture rec;
        EXPECT_EQ(wildcards(args), Strings{});
        EXPECT_TRUE(rec.reports().empty());
    }
}

TEST(Wildcards, MatchesSortedWithoutCaseInAStableOrder) {
    Tree t({"b.txt", "A.txt", "c.TXT", "a2.txt", "note.log", "x.txt.bak", "sub1/x.txt", "Sub0/y.txt",
            "sub1/deep/z.txt", "sub1/deep/other.log", ".hid/h.txt", "Sub0/.h2/q.txt", ".secret.txt",
            "dir.txt/inside"});
    struct Case {
        Strings args;  // "*" stands for the tree's folder
        Strings files;
    };
    const Case cases[] = {
        {{"*/*.txt"}, {"A.txt", "a2.txt", "b.txt"}},
        {{"*/?.txt"}, {"A.txt", "b.txt"}},
        {{"*/*.t?t*"}, {"A.txt", "a2.txt", "b.txt", "x.txt.bak"}},
        {{"*/note.log", "-x*"}, {"note.log", "-x*"}},
        {{"-sub", "*/*.txt"}, {"A.txt", "a2.txt", "b.txt", "Sub0/y.txt", "sub1/x.txt", "sub1/deep/z.txt"}},
        {{"*/*.txt", "-SUB"}, {"A.txt", "a2.txt", "b.txt", "Sub0/y.txt", "sub1/x.txt", "sub1/deep/z.txt"}},
        {{"-sub:1", "*/*.txt"}, {"A.txt", "a2.txt", "b.txt", "Sub0/y.txt", "sub1/x.txt"}},
        {{"-sub:0", "*/?.txt"}, {"A.txt", "b.txt"}},
        {{"*/*.txt", "-hidden"}, {".secret.txt", "A.txt", "a2.txt", "b.txt"}},
        {{"-system", "*/*.txt"}, {"A.txt", "a2.txt", "b.txt"}},
        {{"-hidden", "-system", "*/*.txt"}, {".secret.txt", "A.txt", "a2.txt", "b.txt"}},  // no folder dir.txt
    };
    MsgCapture rec;
    for (const Case& c : cases) {
        Strings args, files;
        for (const std::string& a : c.args) args.push_back(a[0] == '*' ? t.dir.file(a.substr(2)) : a);
        for (const std::string& f : c.files) files.push_back(f[0] == '-' ? f : t.dir.file(f));
        for (int round = 0; round < 2; ++round) EXPECT_EQ(wildcards(args), files) << c.args[0];
    }
    EXPECT_TRUE(rec.reports().empty());
}
