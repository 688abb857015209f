#pragma once
// Every benchmark prints its figures through this table, so that `make bench` reads the
// same whichever benchmark printed a figure, the text of a goal is made from the bound it
// is checked against (they cannot disagree), and a benchmark's exit status says whether
// all the goals it holds were met.
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brumlis::bench {

/// How a figure is shown: its unit, and how many decimals it is measured to.
struct Unit {
    const char* symbol = "";
    int decimals = 0;
};

/// What a figure must stay within.
class Goal {
public:
    static Goal atMost(double bound) { return Goal(Kind::AtMost, bound, 0); }
    static Goal atLeast(double bound) { return Goal(Kind::AtLeast, bound, 0); }
    static Goal exactly(double value) { return Goal(Kind::Near, value, 0); }
    /// No further than `tolerance` from `value`, either way.
    static Goal near(double value, double tolerance) { return Goal(Kind::Near, value, tolerance); }

    /// The same goal shown beside the figure, but not held: for a setup the program does
    /// not choose itself, whose figure is only there to compare.
    Goal shownOnly() const {
        Goal goal = *this;
        goal.m_held = false;
        return goal;
    }

    bool held() const { return m_held; }
    bool metBy(double value) const;
    /// "<= 30 ms", ">= 20 /s", "= 0 fr", "0 +- 8 fr".
    std::string text(const char* unit) const;

private:
    enum class Kind { AtMost, AtLeast, Near };
    Goal(Kind kind, double bound, double tolerance)
        : m_kind(kind)
        , m_bound(bound)
        , m_tolerance(tolerance) {}

    Kind m_kind;
    double m_bound;
    double m_tolerance;
    bool m_held = true;
};

/// Rows of figures, each beside its goal or reported without one, printed as one table.
class GoalTable {
public:
    /// `title`, if any, is printed above the table: which setup its figures are of.
    explicit GoalTable(std::string title = {})
        : m_title(std::move(title)) {}

    /// A figure held to `goal`. One that could not be measured (no value) misses it.
    void goal(std::string figure, std::optional<double> measured, Unit unit, Goal goal,
              std::string note = {});
    /// A figure reported without a goal, to look at or to compare with.
    void report(std::string figure, std::optional<double> measured, Unit unit,
                std::string note = {});

    /// True when every goal held was met; a table without goals meets them all.
    bool allMet() const;
    /// Prints the table on standard output and returns allMet(), which a benchmark's
    /// main() turns into its exit status.
    bool print() const;

private:
    struct Row {
        std::string figure;
        std::optional<double> measured;
        Unit unit;
        std::optional<Goal> goal;
        std::string note;
    };

    std::string m_title;
    std::vector<Row> m_rows;
};

} // namespace brumlis::bench
