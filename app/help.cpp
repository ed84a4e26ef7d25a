// The command summary of !help and the usage of -?, laid out from the command
// table and the catalogue by one routine: an explanation that starts on the
// same line begins at column 19 (the syntax padded to 18, or two blanks after
// a longer syntax); one that starts on the next line, and every further line,
// is indented by 18 blanks.
#include "app/help.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "app/command_table.h"
#include "app/settings.h"
#include "base/cmdline.h"
#include "base/msg.h"
#include "base/platform/launch.h"

const char* const kOnlineHelpAddress = "https://www.example.org/vesperline/Vesperline.html";

namespace {

constexpr int kColumn = 18;
// The indentation of a synopsis' second line.
constexpr int kSynopsisIndent = 6;

// An entry of the usage of -?: the option as written and its explanation.
struct UsageEntry {
    const char* syntax;
    Tx explanation;
    bool sameLine = true;  // the explanation starts on the syntax line
};

// The command-line entries in the order -? shows them.
const UsageEntry kUsageEntries[] = {
    {"<cmd-files>", Tx::usageCommandFiles},
    {"-o:<addr>", Tx::usageOpen},
    {"-wo:<msec>", Tx::usageOpenWait},
    {"-wr:<msec>", Tx::usageReceivePause},
    {"-tn:<n>", Tx::usageTelnet},
    {"-rxsteps:<n>", Tx::usageRexSteps},
    {"-chrset:<n>", Tx::usageCharSet},
    {"-lang:<ja|en>", Tx::usageLanguage},
    {"-hist:<path>", Tx::usageHistory},
    {"-qd", Tx::usageQuitWhenDone},
    {"-rf:<path>", Tx::usageResultFile},
    {"-ssh:\"<program> [<arg>...]\"", Tx::usageSsh, false},
    {"-?", Tx::usageUsage},
    {"-??", Tx::usageOnlineHelp},
    {"-ver", Tx::usageVersion},
};

void appendLines(LString& out, const char* text, bool indentFirst) {
    bool first = true;
    const char* p = text;
    for (;;) {
        const char* end = p;
        while (*end && *end != '\n') ++end;
        if (!first || indentFirst) out.appendChar(' ', kColumn);
        out.append(p, static_cast<int>(end - p));
        out.append("\r\n");
        first = false;
        if (!*end) break;
        p = end + 1;
    }
}

// Writes the syntax (whose lines after the first are indented by
// kSynopsisIndent) and its explanation lines.
void appendEntry(LString& out, const LString& syntax, bool sameLine, const char* explanation) {
    const char* p = syntax.data();
    for (const char* nl; (nl = std::strchr(p, '\n')) != nullptr; p = nl + 1) {
        out.append(p, static_cast<int>(nl - p));
        out.append("\r\n");
        out.appendChar(' ', kSynopsisIndent);
    }
    const int width = static_cast<int>(std::strlen(p)) + (p == syntax.data() ? 0 : kSynopsisIndent);
    out.append(p);
    if (sameLine) {
        out.appendChar(' ', width < kColumn ? kColumn - width : 2);
        appendLines(out, explanation, false);
    } else {
        out.append("\r\n");
        appendLines(out, explanation, true);
    }
}

// "!name synopsis" of a command.
LString commandSyntax(const CommandEntry& e, const char* synopsis) {
    LString syntax("!");
    syntax.append(e.name);
    if (*synopsis) {
        syntax.append(" ");
        syntax.append(synopsis);
    }
    return syntax;
}

void appendBlock(LString& out, HelpBlock block) {
    for (const CommandEntry& e : commandTable()) {
        if (e.block != block) continue;
        appendEntry(out, commandSyntax(e, e.synopsis), e.sameLine,
                    commandExplanation(e, g_systemMsgColor, g_errorMsgColor).data());
        if (e.otherForm) appendEntry(out, commandSyntax(e, e.otherForm->synopsis), false, tr(e.otherForm->help));
    }
}

}  // namespace

LString commandExplanation(const CommandEntry& e, int systemMsgColor, int errorMsgColor) {
    if (e.help == Tx::helpSystemMsgColor) return textf(Tx::helpSystemMsgColor, systemMsgColor);
    if (e.help == Tx::helpErrorMsgColor) return textf(Tx::helpErrorMsgColor, errorMsgColor);
    return LString(tr(e.help));
}

void printBanner() { msg(Tx::banner); }

LString helpText() {
    LString out;
    out.append(tr(Tx::helpHeading));
    out.append(tr(Tx::helpWaitExecute));
    appendBlock(out, HelpBlock::commands);
    appendBlock(out, HelpBlock::settings);
    appendEntry(out, LString(";<str>"), true, tr(Tx::helpComment));
    out.append("\r\n");
    out.append(tr(Tx::shortFormsHeading));
    out.append(tr(Tx::shortFormsColumns));
    std::vector<const CommandEntry*> forms;
    for (const CommandEntry& e : commandTable())
        if (e.shortName) forms.push_back(&e);
    std::sort(forms.begin(), forms.end(),
              [](const CommandEntry* a, const CommandEntry* b) { return a->shortRank < b->shortRank; });
    for (const CommandEntry* e : forms) {
        const int n = static_cast<int>(std::strlen(e->shortName)) + 1;
        out.append("!");
        out.append(e->shortName);
        out.appendChar(' ', n < 8 ? 8 - n : 1);
        out.append("!");
        out.append(e->name);
        out.append("\r\n");
    }
    return out;
}

LString usageText() {
    LString out;
    out.append(tr(Tx::usageLine));
    for (const UsageEntry& e : kUsageEntries) appendEntry(out, LString(e.syntax), e.sameLine, tr(e.explanation));
    return out;
}

void printHelp() { msgPrintText(helpText().data()); }

void printUsage() {
    printBanner();
    msgPrintText(usageText().data());
    printHelp();
}

void openOnlineHelp() {
    LString page = programDir();
    page.append("Vesperline.html");
    const char* target = pathExists(page.data()) ? page.data() : kOnlineHelpAddress;
    const char* const argv[] = {"xdg-open", target, nullptr};
    runProgram("xdg-open", argv);
}

int cmdHelp(CommandContext&) {
    printHelp();
    return 0;
}

int cmdOnlineHelp(CommandContext&) {
    openOnlineHelp();
    return 0;
}

int cmdVer(CommandContext&) {
    printBanner();
    return 0;
}
