#include "goaltable.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace {

using brumlis::bench::Goal;
using brumlis::bench::GoalTable;

struct Bound {
    const char* what;
    Goal goal;
    double value;
    bool met;
};

TEST(Goal, IsMetOnItsBoundAndMissedJustPast) {
    const Bound cases[] = {
        {"at most, on the bound", Goal::atMost(30), 30, true},
        {"at most, past it", Goal::atMost(30), 30.01, false},
        {"at most, a negative figure", Goal::atMost(30), -5, true},
        {"at least, on the bound", Goal::atLeast(0), 0, true},
        {"at least, below it", Goal::atLeast(0), -0.01, false},
        {"exactly, hit", Goal::exactly(0), 0, true},
        {"exactly, one off", Goal::exactly(0), 1, false},
        {"near, at the tolerance below", Goal::near(0, 8), -8, true},
        {"near, at the tolerance above", Goal::near(0, 8), 8, true},
        {"near, past it below", Goal::near(0, 8), -9, false},
        {"near, past it above", Goal::near(0, 8), 9, false},
    };
    for (const Bound& c : cases)
        EXPECT_EQ(c.goal.metBy(c.value), c.met) << c.what;
}

struct Text {
    Goal goal;
    const char* unit;
    const char* shown;
};

TEST(Goal, TextShowsTheBoundItIsCheckedAgainst) {
    const Text cases[] = {
        {Goal::atMost(30), "ms", "<= 30 ms"},
        {Goal::atLeast(20), "/s", ">= 20 /s"},
        {Goal::exactly(0), "fr", "= 0 fr"},
        {Goal::exactly(20), "", "= 20"},
        {Goal::near(0, 8), "fr", "0 +- 8 fr"},
        {Goal::atMost(0.8), "s", "<= 0.8 s"},
        // A bound computed from a device's buffer: 2048 frames at 48 kHz.
        {Goal::atMost(1000.0 * 2048 / 48000), "ms", "<= 42.67 ms"},
    };
    for (const Text& c : cases)
        EXPECT_EQ(c.goal.text(c.unit), c.shown);
}

struct Table {
    const char* what;
    std::optional<double> measured;
    Goal goal;
    bool allMet;
};

TEST(GoalTable, AllMetOnlyWhenEveryHeldGoalIsMeasuredAndMet) {
    const Table cases[] = {
        {"met", 10, Goal::atMost(30), true},
        {"missed", 40, Goal::atMost(30), false},
        {"never measured", std::nullopt, Goal::atMost(30), false},
        {"missed, goal only shown", 40, Goal::atMost(30).shownOnly(), true},
        {"never measured, goal only shown", std::nullopt, Goal::atMost(30).shownOnly(), true},
    };
    for (const Table& c : cases) {
        GoalTable table;
        table.report("a figure without a goal", std::nullopt, {"ms", 1});
        table.goal("a met goal", 1, {"ms", 1}, Goal::atMost(30));
        table.goal(c.what, c.measured, {"ms", 1}, c.goal);
        EXPECT_EQ(table.allMet(), c.allMet) << c.what;
    }
}

} // namespace
