// The option parser: typed option objects that recognise their argument and
// store its value in a variable of the caller.
//
// Matching is shared by every class: the argument starts with '-' or '/', then
// the option name follows, ASCII case ignored, then either the end of the
// argument (no value) or ':' and the value (the rest). So "-wo" never matches
// an option "w", "-wo:500" and "/WO:500" match "wo", "-wo500" matches nothing.
//
// An argument starting with '/' is an option only when its name part holds no
// further '/' (see isOptionArg), since on Linux '/' also begins absolute paths.
//
// Value problems are reported as error 15000 and the argument still counts as
// consumed, so the caller does not report it a second time as unknown.
//
// Key design choice: LStrOpt stores a pointer into the argument text itself
// (nothing is copied), so the argument list must outlive every use of the
// values it set. LStrsOpt copies its values into the caller's LStrList.
#pragma once

#include <memory>

#include "base/larray.h"
#include "base/obj.h"

class LOptBase : public LObj {
public:
    explicit LOptBase(const char* name) : optName(name) {}
    ~LOptBase() override = default;

    // Returns 1 when arg is this option (it is then consumed and its value
    // stored), else 0.
    virtual int parse(const char* arg) = 0;

    // The option name without the leading '-' (not owned; usually a literal).
    const char* optName;

protected:
    // When arg is this option: true, and *value is the text after ':' or null
    // when the option has no value. False when arg is not this option.
    bool match(const char* arg, const char** value) const;
};

// An integer option: parseSize() reads the value (0x/0j/0n prefixes, commas,
// k/m/g multipliers); without a value noValue is taken.
class LIntOpt : public LOptBase {
public:
    // The value that means "a value is required".
    static constexpr int kValueRequired = -10000;

    LIntOpt(const char* name, int* target, int minValue, int maxValue, int noValue)
        : LOptBase(name), target(target), minValue(minValue), maxValue(maxValue), noValue(noValue) {}
    // A value below minValue: error "too small option number: %s: %d < %d";
    // above maxValue (when maxValue >= 0): "too big option number: %s: %d > %d";
    // the value is stored all the same. No value and noValue kValueRequired:
    // error "value required: %s" and the target is left as it was.
    int parse(const char* arg) override;

    int* target;
    int minValue;
    int maxValue;  // negative: no upper bound
    int noValue;
};

// A text option: the target points at the value inside the argument; without a
// value at noValue, or (noValue null) at the empty end of the argument.
class LStrOpt : public LOptBase {
public:
    LStrOpt(const char* name, const char** target, const char* noValue)
        : LOptBase(name), target(target), noValue(noValue) {}
    int parse(const char* arg) override;

    const char** target;
    const char* noValue;
};

// A repeatable text option: each occurrence appends a copy of its value (the
// empty text when it has none) to the target list.
class LStrsOpt : public LOptBase {
public:
    LStrsOpt(const char* name, LStrList* target) : LOptBase(name), target(target) {}
    int parse(const char* arg) override;

    LStrList* target;
};

// A bit-mask option: no value or "1" ors bits into the target, "2" ors bits2
// (illegal when bits2 is -1), "0" clears bits (and bits2 when set); any other
// value: error "illegal mask option value: %s" with the value.
class LMskOpt : public LOptBase {
public:
    LMskOpt(const char* name, int* target, int bits, int bits2)
        : LOptBase(name), target(target), bits(bits), bits2(bits2) {}
    int parse(const char* arg) override;

    int* target;
    int bits;
    int bits2;  // -1: none
};

// A switch: sets the target to switchValue. A value after the name is an error
// ("illegal switch option: %s" with the argument); the switch is set anyway.
class LSwitchOpt : public LOptBase {
public:
    LSwitchOpt(const char* name, int* target, int switchValue)
        : LOptBase(name), target(target), switchValue(switchValue) {}
    int parse(const char* arg) override;

    int* target;
    int switchValue;
};

// An option list owns its options.
using LOptList = LOwnedArray<LOptBase>;

// Each creates the option, appends it to the list and returns it (owned by the
// list).
LIntOpt* addIntOpt(LOptList& list, const char* name, int* target, int minValue, int maxValue,
                   int noValue);
LStrOpt* addStrOpt(LOptList& list, const char* name, const char** target,
                   const char* noValue = nullptr);
LStrsOpt* addStrsOpt(LOptList& list, const char* name, LStrList* target);
LMskOpt* addMskOpt(LOptList& list, const char* name, int* target, int bits, int bits2 = -1);
LSwitchOpt* addSwitchOpt(LOptList& list, const char* name, int* target, int switchValue);

// Offers arg to each option in list order; 1 at the first that consumes it, else 0.
int tryOptions(const LOptList& list, const char* arg);

// True when arg is written as an option: it starts with '-', or with '/' and
// has no further '/' before its first ':' (or its end). So "/wo:500" and
// "/f:dir/x.rsp" are options, while an absolute path such as "/home/me/x.cmd"
// is a file argument. Every decision "option or file" goes through here.
bool isOptionArg(const char* arg);
