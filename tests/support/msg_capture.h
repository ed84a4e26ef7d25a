// Captures every report for the lifetime of the object: a sink that records
// the reports (code, position, kind, text) and the plain output (code 0)
// instead of writing them. One capture at a time; reports may come from any
// thread.
#pragma once

#include <string>
#include <vector>

namespace vltest {

struct Report {
    int code;
    std::string position;  // empty: none
    std::string kind;
    std::string text;
};

class MsgCapture {
public:
    MsgCapture();   // installs the capturing sink
    ~MsgCapture();  // installs a plain sink again
    MsgCapture(const MsgCapture&) = delete;
    MsgCapture& operator=(const MsgCapture&) = delete;

    std::vector<Report> reports() const;  // with a code other than 0, in order
    std::vector<int> codes() const;       // their codes
    std::vector<std::string> texts() const;  // as "code text" lines
    std::string textOf(int code) const;   // the text of the first one with code ("" when none)
    std::string plain() const;            // everything printed with code 0
    void clear();
};

}  // namespace vltest
