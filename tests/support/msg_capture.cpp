// The capturing sink behind MsgCapture. Reports arrive under g_libLock, which
// also guards the recorded data here.
#include "tests/support/msg_capture.h"

#include "base/lock.h"
#include "base/msg.h"

namespace vltest {

namespace {

struct Captured {
    std::vector<Report> reports;
    std::string plain;
};
Captured g_captured;

class CaptureSink : public LMsg {
public:
    void output(int code, const char*, const char*, const char* text) override {
        LLockGuard guard;
        if (code == 0) {
            g_captured.plain += text;
        } else {
            g_captured.reports.push_back({code, text});
        }
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
    return g_captured.reports;
}

std::vector<int> MsgCapture::codes() const {
    std::vector<int> out;
    for (const Report& r : reports()) out.push_back(r.code);
    return out;
}

std::string MsgCapture::textOf(int code) const {
    for (const Report& r : reports())
        if (r.code == code) return r.text;
    return "";
}

std::string MsgCapture::plain() const {
    LLockGuard guard;
    return g_captured.plain;
}

void MsgCapture::clear() {
    LLockGuard guard;
    g_captured.reports.clear();
    g_captured.plain.clear();
}

}  // namespace vltest
