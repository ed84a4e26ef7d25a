// Macros: named, parameterised blocks of lines recorded once and replayed by
// !call-macro, which expands ${name} references and inserts the lines right
// after the call. Only the main thread touches macros.
#pragma once

#include <type_traits>

#include "app/line_record.h"
#include "base/larray.h"
#include "base/lhash.h"
#include "base/lstring.h"

// Calls nested deeper than this are refused (10042): a macro that calls itself
// would otherwise insert its lines without end.
constexpr int kMaxMacroDepth = 100;
// One top-level line (typed, read from a file or run by an atom) may expand
// into at most this many lines in all, through any number of calls (10043): a
// macro that calls itself twice would otherwise double with every level. The
// first error of either kind ends the whole expansion of that line.
constexpr int kMaxMacroLines = 100000;

struct Macro {
    const char* key = nullptr;  // = name.data(); first member: the record key of g_macros
    LString name;
    LStrList params;                 // formal parameter names, in order
    LOwnedArray<LineRecord> lines;   // recorded lines with their kinds
};
static_assert(std::is_standard_layout_v<Macro>, "g_macros records need their key first");

// Every macro by name (record map of Macro; the table owns them through
// removeMacro/releaseMacros).
extern LHashTable g_macros;
// The macro being recorded, or null.
extern Macro* g_recordingMacro;

// The macro named exactly name, or null.
Macro* findMacro(const char* name);
// Destroys every macro (at shutdown).
void releaseMacros();
// Expands the ${...} references of one recorded line with the bound pairs
// (params[i] = args[i] for i < bound). Reports 10040 and 10041.
LString expandMacroLine(const LineRecord& line, const LStrList& params, const LStrList& args,
                        int bound);
