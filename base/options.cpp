// The option classes, their matching rule and their error texts.
#include "base/options.h"

#include <cstring>

#include "base/chars.h"
#include "base/msg.h"
#include "base/text.h"

bool isOptionArg(const char* arg) {
    if (!arg) return false;
    if (arg[0] == '-') return true;
    if (arg[0] != '/') return false;
    for (const char* p = arg + 1; *p && *p != ':'; ++p) {
        if (*p == '/') return false;
    }
    return true;
}

bool LOptBase::match(const char* arg, const char** value) const {
    if (!arg || (arg[0] != '-' && arg[0] != '/')) return false;
    const char* p = arg + 1;
    for (const char* n = optName; *n; ++n, ++p) {
        if (*p == 0 || toLowerAscii(static_cast<unsigned char>(*p)) !=
                           toLowerAscii(static_cast<unsigned char>(*n))) {
            return false;
        }
    }
    if (*p == 0) {
        *value = nullptr;
        return true;
    }
    if (*p == ':') {
        *value = p + 1;
        return true;
    }
    return false;
}

int LIntOpt::parse(const char* arg) {
    const char* value;
    if (!match(arg, &value)) return 0;
    int n = noValue;
    if (value) {
        n = parseSize(value);
    } else if (noValue == kValueRequired) {
        // Storing the marker would hand the program a meaningless number.
        msg(Tx::optionValueRequired, arg);
        return 1;
    }
    if (n < minValue) msg(Tx::optionNumberTooSmall, arg, n, minValue);
    if (maxValue >= 0 && n > maxValue) {
        msg(Tx::optionNumberTooBig, arg, n, maxValue);
    }
    *target = n;
    return 1;
}

int LStrOpt::parse(const char* arg) {
    const char* value;
    if (!match(arg, &value)) return 0;
    if (value) {
        *target = value;
    } else {
        *target = noValue ? noValue : arg + std::strlen(arg);
    }
    return 1;
}

int LStrsOpt::parse(const char* arg) {
    const char* value;
    if (!match(arg, &value)) return 0;
    target->add(value ? value : "");
    return 1;
}

int LMskOpt::parse(const char* arg) {
    const char* value;
    if (!match(arg, &value)) return 0;
    if (!value || std::strcmp(value, "1") == 0) {
        *target |= bits;
    } else if (std::strcmp(value, "2") == 0 && bits2 != -1) {
        *target |= bits2;
    } else if (std::strcmp(value, "0") == 0) {
        *target &= ~bits;
        if (bits2 != -1) *target &= ~bits2;
    } else {
        msg(Tx::illegalMaskValue, value);
    }
    return 1;
}

int LSwitchOpt::parse(const char* arg) {
    const char* value;
    if (!match(arg, &value)) return 0;
    if (value) msg(Tx::illegalSwitchOption, arg);
    *target = switchValue;
    return 1;
}

namespace {
template <class T>
T* addOpt(LOptList& list, std::unique_ptr<T> opt) {
    T* const p = opt.get();
    list.add(std::move(opt));
    return p;
}
}  // namespace

LIntOpt* addIntOpt(LOptList& list, const char* name, int* target, int minValue, int maxValue,
                   int noValue) {
    return addOpt(list, std::make_unique<LIntOpt>(name, target, minValue, maxValue, noValue));
}

LStrOpt* addStrOpt(LOptList& list, const char* name, const char** target, const char* noValue) {
    return addOpt(list, std::make_unique<LStrOpt>(name, target, noValue));
}

LStrsOpt* addStrsOpt(LOptList& list, const char* name, LStrList* target) {
    return addOpt(list, std::make_unique<LStrsOpt>(name, target));
}

LMskOpt* addMskOpt(LOptList& list, const char* name, int* target, int bits, int bits2) {
    return addOpt(list, std::make_unique<LMskOpt>(name, target, bits, bits2));
}

LSwitchOpt* addSwitchOpt(LOptList& list, const char* name, int* target, int switchValue) {
    return addOpt(list, std::make_unique<LSwitchOpt>(name, target, switchValue));
}

int tryOptions(const LOptList& list, const char* arg) {
    for (LOptBase* opt : list) {
        if (opt->parse(arg)) return 1;
    }
    return 0;
}
