// The process-wide settings with their defaults. The colour list starts empty
// here and is filled by resetColorList() at start-up, so that no allocation
// depends on the order in which static objects are built.
#include "app/settings.h"

std::atomic<int> g_verbose{1};
std::atomic<int> g_openWait{2000};
std::atomic<int> g_receivePause{100};
std::atomic<int> g_telnetMode{1};
std::atomic<int> g_inputShow{1};
std::atomic<int> g_inputHighlight{1};
std::atomic<int> g_inputReverse{0};
std::atomic<int> g_systemMsgColor{kDefaultSystemMsgColor};
std::atomic<int> g_errorMsgColor{kDefaultErrorMsgColor};

LArray g_colorList;

void resetColorList() {
    static const int kDefaultColors[] = {3, 6, 5, 2, 4};
    g_colorList.clear();
    for (int c : kDefaultColors) g_colorList.add(c);
}
