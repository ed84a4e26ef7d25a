// Command-line expansion: response files, -fbd:/-fex: defaults, -mdef: macros
// and wildcard file names.
//
// The expansion state (base directory, extension, macros, nesting depths) lives
// in one Expander object for the duration of expandArgs, so nested response
// files and macro texts share it and nothing is left behind afterwards. The
// response-file reader works byte by byte on a buffered stream and puts a
// delimiter back by seeking one byte, so the stream's line count (used by the
// pushed position in messages) always names the line being read.
#include "base/cmdline.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/chars.h"
#include "base/msg.h"
#include "base/options.h"
#include "base/platform/fs.h"
#include "base/stream.h"
#include "base/text.h"

namespace {

constexpr int kMaxIncludeDepth = 32;
constexpr int kMaxMacroDepth = 32;
// The macro text that one command-line argument may expand to, all levels
// together: a macro whose text uses itself twice doubles with every level.
constexpr int kMaxMacroText = 1 << 20;

struct Macro {
    LString name;
    std::vector<LString> params;
    LString value;
};

// "-name:" or "/name:", the name compared without ASCII case: the text after
// the colon, or null when arg is not that option with a value.
const char* optionValue(const char* arg, const char* name) {
    if (!isOptionArg(arg)) return nullptr;
    const char* p = arg + 1;
    for (; *name; ++name, ++p) {
        if (toLowerAscii(static_cast<unsigned char>(*p)) != *name) return nullptr;
    }
    return *p == ':' ? p + 1 : nullptr;
}

bool isBlank(int c) { return c == ' ' || c == '\r' || c == '\t' || c == 0x1A; }

bool isNameByte(int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Splits n bytes of text at commas: the first item is the name, the others
// (leading blanks skipped) the items.
void splitNameSpec(const char* text, int n, LString& name, std::vector<LString>& items) {
    const char* const end = text + n;
    const char* p = text;
    const char* comma = static_cast<const char*>(std::memchr(p, ',', end - p));
    name.assign(p, static_cast<int>((comma ? comma : end) - p));
    while (comma) {
        p = comma + 1;
        while (p < end && (*p == ' ' || *p == '\t')) ++p;
        comma = static_cast<const char*>(std::memchr(p, ',', end - p));
        items.emplace_back(p, static_cast<int>((comma ? comma : end) - p));
    }
}

// The value with every {param} replaced by its argument, in one pass (so an
// argument's own text is never substituted again).
LString substitute(const LString& value, const std::vector<LString>& params,
                   const std::vector<LString>& args) {
    LString out;
    const char* s = value.data();
    const char* const end = s + value.len();
    while (s < end) {
        if (*s == '{') {
            bool replaced = false;
            for (size_t i = 0; i < params.size(); ++i) {
                const int n = params[i].len();
                if (end - s >= n + 2 && std::memcmp(s + 1, params[i].data(), n) == 0 &&
                    s[n + 1] == '}') {
                    out.append(args[i]);
                    s += n + 2;
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        const int len = charLen(s, end);
        out.append(s, len);
        s += len;
    }
    return out;
}

// Puts the byte just read back.
void unget(LSrmBase& in) { in.seek(in.tell() - 1); }

class Expander {
public:
    // Expands one argument of the command line, appending the results to out.
    void expandTop(const char* arg, LStrList& out);

private:
    void expandArg(const char* arg, LStrList& out, const char* basePath);
    const Macro* findMacro(const LString& name) const;
    void expandMacros(const char* text, LString& result) const;
    void defineMacro(const char* definition);
    void readResponseFile(const char* path, LStrList& out, const char* basePath);
    void readResponse(LSrmBase& in, LStrList& out, const char* basePath);
    void readToken(LSrmBase& in, int c, LString& token) const;
    void readQuoted(LSrmBase& in, LString& token) const;

    LString baseDir_;
    LString ext_;
    std::vector<Macro> macros_;
    int includeDepth_ = 0;
    int macroDepth_ = 0;
    // Per command-line argument: once a recursion guard has tripped, the rest of
    // its response files and macro uses are skipped, so that a file including
    // itself twice does not branch on 2^32 times below the guard.
    const char* topArg_ = nullptr;
    bool gaveUp_ = false;
    int64_t macroText_ = 0;
};

void Expander::expandTop(const char* arg, LStrList& out) {
    topArg_ = arg;
    gaveUp_ = false;
    macroText_ = 0;
    expandArg(arg, out, nullptr);
}

const Macro* Expander::findMacro(const LString& name) const {
    for (const Macro& m : macros_) {
        if (m.name == name) return &m;
    }
    return nullptr;
}

// Replaces each ${name,args...} of a defined macro; the inserted text is not
// scanned again here (the caller reads the result again as response text).
// One pass over text, so the work grows with the length of the result.
void Expander::expandMacros(const char* text, LString& result) const {
    result.clear();
    const char* s = text;
    const char* const end = text + std::strlen(text);
    for (;;) {
        const char* const start = std::strstr(s, "${");
        const char* close = nullptr;
        int depth = 0;
        for (const char* p = start ? start + 1 : end; p < end; p += charLen(p, end)) {
            if (*p == '{') {
                ++depth;
            } else if (*p == '}' && --depth == 0) {
                close = p;
                break;
            }
        }
        if (!close) {
            result.append(s, static_cast<int>(end - s));
            return;
        }
        LString name;
        std::vector<LString> args;
        splitNameSpec(start + 2, static_cast<int>(close - start) - 2, name, args);
        const Macro* m = findMacro(name);
        if (!m) {
            result.append(s, static_cast<int>(start + 2 - s));
            s = start + 2;
            continue;
        }
        result.append(s, static_cast<int>(start - s));
        if (args.size() != m->params.size()) {
            msg(Tx::macroParameterMismatch,
                static_cast<int>(m->params.size()), static_cast<int>(args.size()));
            result.append(m->value);
        } else {
            result.append(substitute(m->value, m->params, args));
        }
        s = close + 1;
    }
}

// name[,param...][=value]; "==" in the name part stands for one '='.
void Expander::defineMacro(const char* definition) {
    LString nameSpec;
    const char* p = definition;
    const char* value = "";
    for (; *p; ++p) {
        if (*p == '=') {
            if (p[1] == '=') {
                nameSpec.appendChar('=');
                ++p;
                continue;
            }
            value = p + 1;
            break;
        }
        nameSpec.appendChar(*p);
    }
    Macro m;
    splitNameSpec(nameSpec.data(), nameSpec.len(), m.name, m.params);
    m.value.assign(value);
    macros_.erase(std::remove_if(macros_.begin(), macros_.end(),
                                 [&](const Macro& old) { return old.name == m.name; }),
                  macros_.end());
    macros_.push_back(std::move(m));
}

void Expander::expandArg(const char* arg, LStrList& out, const char* basePath) {
    if (!macros_.empty() && std::strstr(arg, "${")) {
        LString expanded;
        expandMacros(arg, expanded);
        if (!expanded.equals(arg)) {
            if (gaveUp_) return;
            macroText_ += expanded.len();
            if (macroDepth_ >= kMaxMacroDepth || macroText_ > kMaxMacroText) {
                msg(Tx::argumentMacroTooDeep, macroDepth_ >= kMaxMacroDepth ? arg : topArg_);
                gaveUp_ = true;
                return;
            }
            ++macroDepth_;
            LMemSrm text(expanded.data(), expanded.len());
            readResponse(text, out, basePath);
            --macroDepth_;
            return;
        }
    }
    if (const char* path = optionValue(arg, "f")) {
        readResponseFile(path, out, basePath);
        return;
    }
    if (const char* dir = optionValue(arg, "fbd")) {
        baseDir_.assign(dir);
        if (!baseDir_.empty() && baseDir_[baseDir_.len() - 1] != kPathSeparator) {
            baseDir_.appendChar(kPathSeparator);
        }
        return;
    }
    if (const char* ext = optionValue(arg, "fex")) {
        ext_.assign(ext);
        return;
    }
    const char* definition = optionValue(arg, "mdef");
    if (!definition) definition = optionValue(arg, "rspdef");
    if (definition) {
        defineMacro(definition);
        return;
    }
    if (isOptionArg(arg)) {
        out.add(arg);
        return;
    }
    LString file;
    if (!baseDir_.empty() && !isAbsolutePath(arg)) file.assign(baseDir_);
    file.append(arg);
    file.append(ext_);
    out.add(file.data(), file.len());
}

void Expander::readResponseFile(const char* path, LStrList& out, const char* basePath) {
    LString full;
    if (path[0] == '@') {
        full = programDir();
        full.append(path + 1);
    } else {
        if (basePath && !isAbsolutePath(path)) full = dirOf(basePath);
        full.append(path);
    }
    if (gaveUp_) return;
    if (includeDepth_ >= kMaxIncludeDepth) {
        msg(Tx::responseFilesTooDeep, full.data());
        gaveUp_ = true;
        return;
    }
    LIoFile file(full.data(), 'r', true);
    if (!file.isOpen()) return;
    ++includeDepth_;
    pushSrmPos(&file, nameOf(full.data()), 0);
    readResponse(file, out, full.data());
    popPos(true);
    --includeDepth_;
    file.close();
}

void Expander::readQuoted(LSrmBase& in, LString& token) const {
    LString part;
    for (;;) {
        const int c = in.getByte();
        if (c < 0) break;
        if (c == '"') {
            const int next = in.getByte();
            if (next == '"') {
                part.appendChar('"');
                continue;
            }
            if (next >= 0) unget(in);
            break;
        }
        if (c == '\r' || c == '\n' || c == 0x1A) {
            unget(in);  // first, so that the message names the line of the quote
            msg(Tx::illegalCodeInQuotes, c);
            break;
        }
        part.appendChar(static_cast<char>(c));
    }
    if (!macros_.empty() && part.find("${") >= 0) {
        LString expanded;
        expandMacros(part.data(), expanded);
        token.append(expanded);
    } else {
        token.append(part);
    }
}

// Reads the rest of a token that begins with byte c, up to a blank or line end
// (left unread).
void Expander::readToken(LSrmBase& in, int c, LString& token) const {
    for (; c >= 0; c = in.getByte()) {
        if (isBlank(c) || c == '\n') {
            unget(in);
            return;
        }
        if (c == '"') {
            readQuoted(in, token);
        } else {
            token.appendChar(static_cast<char>(c));
        }
    }
}

void Expander::readResponse(LSrmBase& in, LStrList& out, const char* basePath) {
    bool blockOpen = false;
    bool inElse = false;
    bool skipping = false;
    bool lineStart = true;
    for (;;) {
        int c = in.getByte();
        if (c < 0) break;
        if (isBlank(c)) continue;
        if (c == '\n') {
            lineStart = true;
            continue;
        }
        if (c == ';') {
            in.readUntil("\n", nullptr);  // the line feed stays for the next round
            continue;
        }
        LString token;
        if (lineStart && c == '#') {
            // The word after '#': a directive, or the start of an ordinary token.
            LString word;
            for (c = in.getByte(); isNameByte(c); c = in.getByte()) word.appendChar(static_cast<char>(c));
            if (c >= 0) unget(in);
            const bool isIfdef = word.equals("ifdef");
            const bool isIfndef = word.equals("ifndef");
            if (isIfdef || isIfndef) {
                if (blockOpen) msg(Tx::nestedIfdef);
                for (c = in.getByte(); c == ' ' || c == '\t'; c = in.getByte()) {
                }
                LString name;
                for (; isNameByte(c); c = in.getByte()) name.appendChar(static_cast<char>(c));
                if (c >= 0) unget(in);
                if (name.empty()) msg(Tx::illegalIfdef);
                const bool defined = findMacro(name) != nullptr;
                skipping = isIfdef ? !defined : defined;
                blockOpen = true;
                inElse = false;
                lineStart = false;
                continue;
            }
            if (word.equals("else")) {
                if (!blockOpen) {
                    msg(Tx::elseOutsideIfdef);
                } else if (inElse) {
                    msg(Tx::duplicateElse);
                } else {
                    skipping = !skipping;
                    inElse = true;
                }
                lineStart = false;
                continue;
            }
            if (word.equals("endif")) {
                if (!blockOpen) msg(Tx::endifOutsideIfdef);
                blockOpen = false;
                inElse = false;
                skipping = false;
                lineStart = false;
                continue;
            }
            // No directive: the '#' and the word begin an ordinary token.
            token.appendChar('#');
            token.append(word);
            c = in.getByte();
        }
        lineStart = false;
        readToken(in, c, token);
        if (!token.empty() && !skipping) expandArg(token.data(), out, basePath);
    }
    if (blockOpen) msg(Tx::missingEndif);
}

// ---- wildcards ----

// '*' any run of characters, '?' one character (a double-byte one counts as one).
bool globMatch(const char* pat, const char* name) {
    const char* starPat = nullptr;
    const char* starName = nullptr;
    while (*name) {
        if (*pat == '*') {
            starPat = ++pat;
            starName = name;
        } else if (*pat == '?') {
            ++pat;
            name += charLen(name);
        } else if (*pat && *pat == *name) {
            ++pat;
            ++name;
        } else if (starPat) {
            pat = starPat;
            starName += charLen(starName);
            name = starName;
        } else {
            return false;
        }
    }
    while (*pat == '*') ++pat;
    return *pat == 0;
}

// The attribute class of a file; it matches when all its bits are in the mask.
int entryClass(const PlatformDirEntry& e) {
    return (e.isHidden ? 0x01 : 0x02) | (e.isSystem ? 0x04 : 0x08) | (e.isReadOnly ? 0x10 : 0x20);
}

bool nameOrder(const std::string& a, const std::string& b) {
    const int c = compareNoCase(a.c_str(), b.c_str());
    return c != 0 ? c < 0 : std::strcmp(a.c_str(), b.c_str()) < 0;
}

// Appends the matching entries of dir (a prefix ending with a separator, or
// empty), then those of its subdirectories while levels remain; the count added.
int collectMatches(const std::string& dir, const char* pattern, int levels, int mask,
                   LStrList& out) {
    std::vector<PlatformDirEntry> entries;
    if (!platformListDir(dir.c_str(), entries)) return 0;
    std::vector<std::string> files;
    std::vector<std::string> subdirs;
    for (const PlatformDirEntry& e : entries) {
        // A folder is never a file name, whatever the mask admits.
        if (!e.isDir && (entryClass(e) & ~mask) == 0 && globMatch(pattern, e.name.c_str())) {
            files.push_back(e.name);
        }
        if (levels > 0 && e.isDir && !e.isLink && e.name[0] != '.') subdirs.push_back(e.name);
    }
    std::sort(files.begin(), files.end(), nameOrder);
    std::sort(subdirs.begin(), subdirs.end(), nameOrder);
    int count = 0;
    for (const std::string& f : files) {
        const std::string path = dir + f;
        out.add(path.c_str(), static_cast<int>(path.size()));
        ++count;
    }
    for (const std::string& s : subdirs) {
        count += collectMatches(dir + s + kPathSeparator, pattern, levels - 1, mask, out);
    }
    return count;
}

}  // namespace

void expandArgs(LStrList& args, bool optionsOnly) {
    Expander expander;
    LStrList out;
    for (int i = 0; i < args.count(); ++i) {
        if (optionsOnly && !isOptionArg(args[i])) break;
        expander.expandTop(args[i], out);
    }
    args = std::move(out);
}

void expandWildcards(LStrList& args) {
    int sub = 0;
    int mask = 0x3A;
    int noWarning = 0;
    LOptList options;
    addIntOpt(options, "sub", &sub, 0, INT_MAX, INT_MAX);
    addMskOpt(options, "hidden", &mask, 3);
    addMskOpt(options, "system", &mask, 12);
    addIntOpt(options, "nwfne", &noWarning, 0, 1, 1);
    std::vector<char> consumed(static_cast<size_t>(args.count()));
    for (int i = 0; i < args.count(); ++i) consumed[i] = static_cast<char>(tryOptions(options, args[i]));

    LStrList out;
    for (int i = 0; i < args.count(); ++i) {
        const char* arg = args[i];
        if (consumed[i]) continue;
        if (isOptionArg(arg) || !std::strpbrk(arg, "*?")) {
            out.add(arg);
            continue;
        }
        const char* name = std::strrchr(arg, kPathSeparator);
        name = name ? name + 1 : arg;
        const std::string dir(arg, static_cast<size_t>(name - arg));
        if (collectMatches(dir, name, sub, mask, out) == 0 && !noWarning) {
            msg(Tx::noFileHit, arg);
        }
    }
    args = std::move(out);
}

bool isAbsolutePath(const char* p) { return platformIsAbsolutePath(p); }

LString programDir() {
    const std::string exe = platformExePath();
    if (exe.empty()) {
        msg(Tx::programPathUnknown);
        return LString();
    }
    return LString(exe.data(), static_cast<int>(exe.rfind(kPathSeparator) + 1));
}
