// The commands the dispatcher handles itself: reading a further command file,
// colours and input settings, clearing the screen, waiting, quitting, remarks.
#include <cctype>
#include <cstdint>

#include "app/args.h"
#include "app/commands.h"
#include "app/console.h"
#include "app/deadlines.h"
#include "app/line_record.h"
#include "app/mainloop.h"
#include "app/outcomes.h"
#include "app/reader.h"
#include "app/settings.h"
#include "base/msg.h"
#include "base/stream.h"
#include "base/text.h"

int cmdReadCommandFile(CommandContext& ctx) {
    LString path;
    const char* rest = ctx.args;
    if (!nextPathToken(rest, path)) return 0;
    warnTrailing(rest);
    LIoFile file(path.data(), 'r', true);
    if (!file.isOpen()) {
        noteRunFailure();  // the exit status tells
        return 0;
    }
    readCommandFile(file, ctx.pending);
    file.close();
    return 0;
}

int cmdEndMacroOutside(CommandContext& ctx) {
    msg(Tx::endMacroOutside, displayText(ctx.line).data());
    return 0;
}

int cmdColor(CommandContext& ctx) {
    LStrList items;
    warnTrailing(parseNameList(ctx.args, items, "!color"));
    g_colorList.clear();
    for (int i = 0; i < items.count(); ++i) {
        const int c = parseInt(items[i], 0, 0);
        if (c < 0 || c > 255) {
            msg(Tx::invalidColor, c);
            continue;
        }
        g_colorList.add(c);
    }
    if (g_colorList.empty()) {
        msg(Tx::noColor);
        g_colorList.add(7);
    }
    return 0;
}

int cmdInputShow(CommandContext& ctx) {
    g_inputShow = parseSwitch(ctx.args);
    return 0;
}

int cmdInputHighlight(CommandContext& ctx) {
    g_inputHighlight = parseSwitch(ctx.args);
    return 0;
}

int cmdInputReverse(CommandContext& ctx) {
    g_inputReverse = parseSwitch(ctx.args);
    return 0;
}

int cmdSystemMsgColor(CommandContext& ctx) {
    g_systemMsgColor = parseNumberArg(ctx.args, 0, 255, g_systemMsgColor);
    return 0;
}

int cmdErrorMsgColor(CommandContext& ctx) {
    g_errorMsgColor = parseNumberArg(ctx.args, 1, 255, g_errorMsgColor);
    return 0;
}

int cmdCls(CommandContext&) {
    clearScreen();
    return 0;
}

namespace {
// A whole number as parseInt reads it: decimal (digit-grouping commas
// allowed) or hexadecimal after 0x, with an optional '-'.
bool isNumberText(const char* p) {
    if (*p == '-') ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        p += 2;
        if (!std::isxdigit(static_cast<unsigned char>(*p))) return false;
        while (std::isxdigit(static_cast<unsigned char>(*p))) ++p;
        return *p == 0;
    }
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    while (std::isdigit(static_cast<unsigned char>(*p)) || *p == ',') ++p;
    return *p == 0;
}
}  // namespace

// !quit [<n>]: a code from 0 to 255 becomes the exit status. Any other code is
// reported (15000 for text that is no number, 10013 for a number out of range)
// and the run still ends, with the status it would have had without one: a
// script that quits should not be kept running by a typing error.
int cmdQuit(CommandContext& ctx) {
    g_quitRequested = 1;  // the pass of this line is the last one
    LString token;
    warnTrailing(nextToken(ctx.args, token));
    if (token.empty()) return 1;
    const int code = parseInt(token.data(), 0, 0);
    if (!isNumberText(token.data())) return 1;  // parseInt has reported it
    if (code < 0 || code > 255) {
        msg(Tx::invalidNumber, code);
        return 1;
    }
    setQuitCode(code);
    return 1;
}

int cmdQuitWhenDone(CommandContext& ctx) {
    g_quitWhenDone = parseSwitch(ctx.args);
    return 0;
}

// A negative number of seconds is refused (10013). The wait holds back only
// the lines after it (the main loop's pending lines, or the rest of the atom
// it belongs to): passes, received text and completions go on meanwhile.
int cmdWait(CommandContext& ctx) {
    LString token;
    const char* rest = nextToken(ctx.args, token);
    const int seconds = parseInt(token.data(), 0, 0);
    warnTrailing(rest);
    if (seconds < 0) {
        msg(Tx::invalidNumber, seconds);
        return 0;
    }
    ctx.pause.extendTo(nowMs() + static_cast<int64_t>(seconds) * 1000);
    return 0;
}

int cmdRem(CommandContext&) { return 0; }
