// Making the help page. The list is English whatever the language in force:
// the page is the English documentation of the program.
#include "app/help_page.h"

#include "app/command_table.h"
#include "app/help.h"
#include "app/settings.h"
#include "base/language.h"

namespace {

void appendEscaped(std::string& out, const char* text, const char* newline) {
    for (const char* p = text; *p; ++p) {
        switch (*p) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\n': out += newline; break;
        default: out += *p;
        }
    }
}

}  // namespace

std::string helpPageCommandList() {
    const int saved = g_language;
    g_language = 'E';
    std::string out;
    for (const CommandEntry& e : commandTable()) {
        out += "<tr id=\"cmd-";
        out += e.name;
        out += "\"><td><code>!";
        out += e.name;
        if (*e.synopsis) {
            out += ' ';
            appendEscaped(out, e.synopsis, " ");
        }
        out += "</code></td><td>";
        if (e.shortName) {
            out += "<code>!";
            out += e.shortName;
            out += "</code>";
        }
        out += "</td><td>";
        appendEscaped(out, commandExplanation(e, kDefaultSystemMsgColor, kDefaultErrorMsgColor).data(), "<br>\n");
        out += "</td></tr>\n";
        if (e.otherForm) {
            out += "<tr><td><code>!";
            out += e.name;
            out += ' ';
            appendEscaped(out, e.otherForm->synopsis, " ");
            out += "</code></td><td></td><td>";
            appendEscaped(out, tr(e.otherForm->help), "<br>\n");
            out += "</td></tr>\n";
        }
    }
    g_language = saved;
    return out;
}

bool makeHelpPage(const std::string& pageTemplate, std::string& page) {
    page.clear();
    const std::string placeholder = std::string(kHelpPagePlaceholder) + "\n";
    const size_t at = pageTemplate.find(placeholder);
    if (at == std::string::npos) return false;
    page = pageTemplate.substr(0, at) + helpPageCommandList() + pageTemplate.substr(at + placeholder.size());
    return true;
}
