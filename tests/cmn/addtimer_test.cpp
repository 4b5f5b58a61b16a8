// addtimer_test - the timer function list: one entry per function, the lowest empty slot,
// the full list, and the slot order the timer thread calls in (no tick runs here).
#include "thistle/diag.h"
#include "thistle/timer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string calls;
std::vector<std::string> reports;

template <char Name>
void fn(void) {
    calls += Name;
}

TEST(AddTimer, SlotsGapsAndTheFullList) {
    fatalfilterhook = [](const char *text) -> int32_t {
        reports.emplace_back(text);
        return 0;
    };
    addtimer(fn<'0'>);
    addtimer(fn<'0'>);
    EXPECT_EQ(counttimers(), 1) << "a listed function is not added again";
    for (timerfunction f : {fn<'1'>, fn<'2'>, fn<'3'>, fn<'4'>, fn<'5'>, fn<'6'>, fn<'7'>})
        addtimer(f);
    EXPECT_TRUE(reports.empty());
    addtimer(fn<'8'>);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], "addtimer - LIST FULL\n");
    EXPECT_STREQ(errorsite.file, "cmn\\addtimer");
    calltimers();
    EXPECT_EQ(calls, "01234567") << "the list is unchanged after the report";

    removetimer(fn<'3'>);
    removetimer(fn<'5'>);
    EXPECT_EQ(counttimers(), 6);
    addtimer(fn<'8'>); // fills the lower gap
    calls.clear();
    calltimers();
    EXPECT_EQ(calls, "0128467");

    cleartimers();
    EXPECT_EQ(counttimers(), 0);
    calls.clear();
    calltimers();
    EXPECT_EQ(calls, "");
    fatalfilterhook = nullptr;
}

} // namespace
