// Shell test helpers (see shell_fixture.h).
#include "tests/app/shell_fixture.h"

#include "app/macros.h"
#include "app/mainloop.h"
#include "app/reader.h"
#include "app/settings.h"

namespace vltest {

void resetShellState() {
    g_verbose = 1;
    g_openWait = 2000;
    g_receivePause = 100;
    g_inputShow = 1;
    g_inputHighlight = 1;
    g_inputReverse = 0;
    g_systemMsgColor = 0x16;
    g_errorMsgColor = 0x0C;
    resetColorList();
    releaseMacros();
}

void addFileLine(PendingLines& pending, const std::string& line) {
    if (auto r = makeFileRecord(line.data(), static_cast<int>(line.size()))) pending.append(std::move(r));
}

void addTypedLine(PendingLines& pending, const std::string& line) {
    if (auto r = makeConsoleRecord(line.data(), static_cast<int>(line.size())))
        pending.append(std::move(r));
}

int runPending(PendingLines& pending, int limit, bool* quit) {
    int n = 0;
    bool q = false;
    while (!q && n < limit && pending.hasNext()) {
        q = handlePendingLine(pending.takeNext(), pending) != 0;
        ++n;
    }
    if (quit) *quit = q;
    return n;
}

std::vector<int> colorList() {
    std::vector<int> v;
    for (int i = 0; i < g_colorList.count(); ++i) v.push_back(static_cast<int>(g_colorList[i]));
    return v;
}

}  // namespace vltest
