// The main loop's deadlines: the time to the earliest, firing in time order,
// cancelling (also from a callback, of a deadline that is due as well).
#include "app/deadlines.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Deadlines, FireInTimeOrderOnlyWhenDueAndCancelledOnesNever) {
    Deadlines d;
    std::string fired;
    EXPECT_EQ(d.msUntilNext(0), -1);
    d.add(300, [&] { fired += "c"; });
    const Deadlines::Id b = d.add(200, [&] { fired += "b"; });
    d.add(100, [&] { fired += "a"; });
    const Deadlines::Id gone = d.add(150, [&] { fired += "x"; });
    d.cancel(gone);
    d.cancel(gone);  // twice changes nothing
    EXPECT_EQ(d.msUntilNext(40), 60);
    d.fireDue(99);
    EXPECT_EQ(fired, "");
    d.fireDue(250);
    EXPECT_EQ(fired, "ab");
    EXPECT_EQ(d.msUntilNext(250), 50);
    d.cancel(b);  // fired already: nothing to cancel
    EXPECT_EQ(d.count(), 1);
    EXPECT_EQ(d.msUntilNext(400), 0);
    d.clear();
    d.fireDue(1000);
    EXPECT_EQ(fired, "ab");
}

// What a connection that closes does to an atom held back for it: the first
// callback cancels a second one that is due at the same time, and adds one for
// later, which waits for its own time.
TEST(Deadlines, ACallbackMayCancelADueOneAndAddALaterOne) {
    Deadlines d;
    std::string fired;
    Deadlines::Id second = 0;
    d.add(10, [&] {
        fired += "1";
        d.cancel(second);
        d.add(50, [&] { fired += "3"; });
    });
    second = d.add(10, [&] { fired += "2"; });
    d.fireDue(20);
    EXPECT_EQ(fired, "1");
    EXPECT_EQ(d.msUntilNext(20), 30);
    d.fireDue(50);
    EXPECT_EQ(fired, "13");
}

}  // namespace
