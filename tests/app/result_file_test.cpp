// The result file's lines: JSON text for any bytes and local time stamps with
// their offset from UTC. (The nulls of an attempt that never ran are checked
// in the batch table.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "app/result_file.h"
#include "base/chars.h"

namespace {

// Sets the time zone for the test's lifetime.
class Zone {
public:
    explicit Zone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) saved_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~Zone() {
        if (had_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string saved_;
};

// 2026-12-06 00:12:01.123 UTC.
constexpr int64_t kMs = 1796515921123;

}  // namespace

TEST(ResultFile, LocalTimesWithTheirOffset) {
    struct Case {
        const char* tz;
        int64_t ms;
        const char* want;
    };
    const Case cases[] = {
        {"UTC0", kMs, "2026-12-06T00:12:01.123+00:00"},
        {"JST-9", kMs, "2026-12-06T09:12:01.123+09:00"},
        {"<-0330>3:30", kMs, "2026-12-05T20:42:01.123-03:30"},
        {"UTC0", kMs - 123, "2026-12-06T00:12:01.000+00:00"},
        {"UTC0", 999, "1970-01-01T00:00:00.999+00:00"},
    };
    for (const Case& c : cases) {
        Zone zone(c.tz);
        EXPECT_EQ(isoLocalTime(c.ms), c.want) << c.tz;
    }
}

TEST(ResultFile, LinesForEveryKindOfText) {
    const int saved = g_charSet;
    g_charSet = 's';
    Zone zone("UTC0");
    ResultFile file;
    ResultEntry e;
    e.atom = "a\"b\\c\td\x01\x7F";
    e.connection = "C\x83\x41";
    e.address = "127.0.0.1:23";
    e.status = "failed";
    e.reason = "line\r\nbreak";
    e.attempt = 3;
    e.startedWallMs = kMs;
    e.endedWallMs = kMs + 61005;
    e.milliseconds = 61005;
    e.bytes = 12345678901;
    EXPECT_EQ(file.format(e),
              "{\"atom\":\"a\\\"b\\\\c\\td\\u0001\\u007f\",\"connection\":\"C\xE3\x82\xA2\",\"address\":\"127.0.0.1:23\","
              "\"status\":\"failed\",\"reason\":\"line\\r\\nbreak\",\"attempt\":3,"
              "\"started\":\"2026-12-06T00:12:01.123+00:00\",\"ended\":\"2026-12-06T00:13:02.128+00:00\","
              "\"seconds\":61.005,\"bytes_received\":12345678901}");
    e.milliseconds = 7;
    EXPECT_NE(file.format(e).find("\"seconds\":0.007,"), std::string::npos);
    g_charSet = saved;
}
