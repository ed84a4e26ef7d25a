// Captures every report for the lifetime of the object: a sink that records
// (code, text) pairs and the plain output (code 0) instead of writing them.
#pragma once

#include <string>
#include <vector>

namespace vltest {

struct Report {
    int code;
    std::string text;
};

class MsgCapture {
public:
    MsgCapture();   // installs the capturing sink
    ~MsgCapture();  // installs a plain sink again

    // Reports with a code other than 0, in order.
    std::vector<Report> reports() const;
    // The codes of reports(), in order.
    std::vector<int> codes() const;
    // The text of the first report with this code ("" when there is none).
    std::string textOf(int code) const;
    // Everything printed with code 0, concatenated.
    std::string plain() const;
    void clear();
};

}  // namespace vltest
