// The in-process tests of the program see its texts in the language it shows
// by default (a C locale, no -lang): Japanese. Tests of English texts set the
// language themselves.
#include <gtest/gtest.h>

#include "base/language.h"

namespace {

class DefaultLanguage : public ::testing::Environment {
public:
    void SetUp() override { g_language = 'J'; }
};

[[maybe_unused]] ::testing::Environment* const kDefaultLanguage =
    ::testing::AddGlobalTestEnvironment(new DefaultLanguage);  // gtest owns it

}  // namespace
