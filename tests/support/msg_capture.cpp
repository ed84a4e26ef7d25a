// The capturing sink behind MsgCapture. Reports arrive under g_libLock, which
// also guards the recorded data here.
#include "tests/support/msg_capture.h"

#include "base/lock.h"
#include "base/msg.h"

namespace vltest {

namespace {

std::vector<Report> g_reports;
std::string g_plain;

class CaptureSink : public LMsg {
public:
    void output(int code, const char* position, const char* kind, const char* text) override {
        LLockGuard guard;
        if (code == 0)
            g_plain += text;
        else
            g_reports.push_back({code, position ? position : "", kind, text});
    }
};

}  // namespace

MsgCapture::MsgCapture() {
    clear();
    installMsg(new CaptureSink);
}

MsgCapture::~MsgCapture() { installMsg(new LMsg(0)); }

std::vector<Report> MsgCapture::reports() const {
    LLockGuard guard;
    return g_reports;
}

std::vector<int> MsgCapture::codes() const {
    std::vector<int> out;
    for (const Report& r : reports()) out.push_back(r.code);
    return out;
}

std::vector<std::string> MsgCapture::texts() const {
    std::vector<std::string> out;
    for (const Report& r : reports()) out.push_back(std::to_string(r.code) + " " + r.text);
    return out;
}

std::string MsgCapture::textOf(int code) const {
    for (const Report& r : reports())
        if (r.code == code) return r.text;
    return "";
}

std::string MsgCapture::plain() const {
    LLockGuard guard;
    return g_plain;
}

void MsgCapture::clear() {
    LLockGuard guard;
    g_reports.clear();
    g_plain.clear();
}

}  // namespace vltest
