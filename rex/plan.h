// What the search derives once from a root node and keeps with it: the
// first-byte tables of the offsets 0, 1 and 2, the way candidates are scanned
// for, and a literal that every match must contain.
#pragma once

#include <memory>
#include <vector>

#include "base/lstring.h"
#include "rex/nodes.h"

struct LRexPlan {
    int charSet = 0;       // g_charSet the plan was made for
    bool hasRef = false;   // the tree holds a reference (matching may warn, captures matter)
    bool rootIgnore = false;
    bool allowAll[3] = {true, true, true};
    LRexByteSet table[3];  // bytes allowed at offset k when !allowAll[k]
    // How the candidate scan finds the next allowed byte at offset 0.
    enum Scan { kScanNone, kScanOneByte, kScanTwoBytes, kScanTable } scan = kScanNone;
    unsigned char scanBytes[2] = {0, 0};
    // Byte strings that every match contains (at most four, longest first).
    std::vector<LString> required;
    // The repetition that starts the root sequence, when a failed start tells
    // where the next start that can match lies (see LRepRex::deadRunEnd).
    LRepRex* skipRep = nullptr;
};

// What a root node keeps besides the tree.
struct LRexRoot {
    LString source;        // the pattern text
    uint32_t flags = 0;    // the compile flags
    bool gaveUpReported = false;  // warning 35000 for an exhausted budget given
    std::unique_ptr<LRexPlan> plan;
};

// The plan of root for the character set in force (made on first use).
const LRexPlan& rexPlan(LRex* root);

// The first-byte table of root for offset k by the rules of the search filter:
// every byte is allowed when the analysis fails, leaves offsets over, collects
// nothing or (unless extended) 31 bytes or more. Returns false when all bytes
// are allowed.
bool rexFilterTable(const LRex* root, int k, bool extended, LRexByteSet& table);
