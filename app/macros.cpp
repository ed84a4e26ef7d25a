// Macros and their four commands. g_macros is a record map whose records are
// the Macro objects themselves (their first member is the key), so its
// bucket-then-insertion order is the listing order. The table does not own
// records; every removal here deletes what it removed.
#include "app/macros.h"

#include <memory>

#include "app/args.h"
#include "app/commands.h"
#include "app/pending_lines.h"
#include "base/msg.h"

LHashTable g_macros;
Macro* g_recordingMacro = nullptr;

namespace {

std::unique_ptr<Macro> takeMacro(const char* name) {
    auto* m = static_cast<Macro*>(g_macros.removeRecord(name));
    // A macro removed while it is being recorded (a deferred !!delete-macro or
    // !!macro run by an atom) ends that recording rather than leave it dangling.
    if (m && m == g_recordingMacro) g_recordingMacro = nullptr;
    return std::unique_ptr<Macro>(m);
}

}  // namespace

Macro* findMacro(const char* name) { return static_cast<Macro*>(g_macros.findRecord(name)); }

void releaseMacros() {
    LArray all;
    g_macros.collect(all);
    g_macros.clear();
    for (int i = 0; i < all.count(); ++i) delete reinterpret_cast<Macro*>(all[i]);
    g_recordingMacro = nullptr;
}

LString expandMacroLine(const LineRecord& line, const LStrList& params, const LStrList& args,
                        int bound) {
    const LString& text = line.text();
    LString out;
    int pos = 0;
    for (;;) {
        const int open = text.find("${", pos);
        if (open < 0) {
            out.append(text.data() + pos, text.len() - pos);
            break;
        }
        out.append(text.data() + pos, open - pos);
        const int close = text.find("}", open + 2);
        if (close < 0) {
            msg(Tx::macroBraceMissing, displayText(line).data());
            out.append(text.data() + open, text.len() - open);
            break;
        }
        const LString key(text.data() + open + 2, close - open - 2);
        if (key.equals("$")) {
            out.append("$");
        } else {
            int found = -1;
            for (int i = 0; i < bound; ++i) {
                if (key.equals(params[i])) {
                    found = i;
                    break;
                }
            }
            if (found >= 0) {
                out.append(args[found]);
            } else {
                msg(Tx::macroArgumentUndefined, key.data());
            }
        }
        pos = close + 1;
    }
    return out;
}

int cmdMacro(CommandContext& ctx) {
    auto macro = std::make_unique<Macro>();
    const char* rest = nextToken(ctx.args, macro->name);
    macro->key = macro->name.data();
    if (takeMacro(macro->name.data())) msg(Tx::macroReplaced, macro->name.data());
    parseNameList(rest, macro->params, nullptr);
    g_recordingMacro = macro.get();
    g_macros.addRecord(macro.release());
    return 0;
}

int cmdCallMacro(CommandContext& ctx) {
    LString name;
    const char* rest = nextToken(ctx.args, name);
    const Macro* macro = findMacro(name.data());
    if (!macro) {
        msg(Tx::macroNotFound, name.data());
        return 0;
    }
    std::shared_ptr<MacroExpansion> expansion = ctx.line.expansion;
    if (!expansion) expansion = std::make_shared<MacroExpansion>();
    if (expansion->stopped) return 0;
    if (ctx.line.depth >= kMaxMacroDepth) {
        msg(Tx::macroTooDeep, name.data(), kMaxMacroDepth);
        expansion->stopped = true;
        return 0;
    }
    if (macro->lines.count() > kMaxMacroLines - expansion->lines) {
        msg(Tx::macroTooLarge, name.data(), kMaxMacroLines);
        expansion->stopped = true;
        return 0;
    }
    expansion->lines += macro->lines.count();
    LStrList args;
    parseNameList(rest, args, nullptr);
    const int nParams = macro->params.count();
    const int nArgs = args.count();
    if (nArgs < nParams) {
        msg(Tx::macroTooFewArguments, name.data(), nParams,
            nArgs);
    } else if (nArgs > nParams) {
        msg(Tx::macroTooManyArguments, name.data(), nParams,
            nArgs);
    }
    const int bound = nArgs < nParams ? nArgs : nParams;
    ctx.pending.beginInsert();
    for (const LineRecord* line : macro->lines) {
        const LString text = expandMacroLine(*line, macro->params, args, bound);
        auto record = std::make_unique<LineRecord>(line->kind(), text.data(), text.len());
        record->depth = ctx.line.depth + 1;
        record->expansion = expansion;
        ctx.pending.insertNext(std::move(record));
    }
    return 0;
}

int cmdDeleteMacro(CommandContext& ctx) {
    LStrList names;
    warnTrailing(parseNameList(ctx.args, names, nullptr));
    int count = 0;
    for (int i = 0; i < names.count(); ++i) {
        if (takeMacro(names[i])) {
            ++count;
        } else {
            msg(Tx::macroNotFound, names[i]);
        }
    }
    msg(Tx::macrosDeleted, count);
    return 0;
}

int cmdListMacro(CommandContext& ctx) {
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    const bool details = token.equals("d");
    LArray all;
    g_macros.collect(all);
    for (int i = 0; i < all.count(); ++i) {
        const auto* macro = reinterpret_cast<const Macro*>(all[i]);
        LString head = textf(Tx::macroListed, macro->name.data());
        for (int p = 0; p < macro->params.count(); ++p) {
            head.append(p == 0 ? " " : ",");
            head.append(macro->params[p]);
        }
        head.append("\r\n");
        msgPrintText(head.data());
        if (details) {
            for (const LineRecord* line : macro->lines) msgPrint("    %s\r\n", displayText(*line).data());
        }
    }
    msg(Tx::macroCount, all.count());
    return 0;
}
