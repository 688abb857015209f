#pragma once

#include "goaltable.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brumlis::bench {

/// Console output as usual, and each benchmark's mean CPU time per iteration noted for the
/// goal table. CPU time, because the machine is shared: wall time would count whatever
/// else runs beside the benchmark.
class GoalReporter : public benchmark::ConsoleReporter {
public:
    /// `goals` maps a benchmark name to its goal in milliseconds.
    explicit GoalReporter(std::map<std::string, double> goals)
        : m_goals(std::move(goals)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                measured(run.benchmark_name()) =
                    run.GetAdjustedCPUTime() * multiplierToMs(run.time_unit);
    }

    /// The figures in the order they ran, then any goal whose benchmark never ran, which
    /// misses it.
    GoalTable table() const {
        constexpr Unit CpuMs{"ms", 4};
        GoalTable table("Mean CPU time of one iteration:");
        for (const auto& [name, ms] : m_measured) {
            const auto goal = m_goals.find(name);
            if (goal == m_goals.end())
                table.report(name, ms, CpuMs);
            else
                table.goal(name, ms, CpuMs, Goal::atMost(goal->second));
        }
        for (const auto& [name, goal] : m_goals)
            if (!ran(name))
                table.goal(name, std::nullopt, CpuMs, Goal::atMost(goal));
        return table;
    }

    /// The figure of the benchmark `name`, when it ran.
    std::optional<double> measuredMs(const std::string& name) const {
        for (const auto& [ranName, ms] : m_measured)
            if (ranName == name)
                return ms;
        return std::nullopt;
    }

private:
    bool ran(const std::string& name) const {
        return std::any_of(m_measured.begin(), m_measured.end(),
                           [&name](const auto& m) { return m.first == name; });
    }
    // A benchmark run again (--benchmark_repetitions) keeps its last figure.
    double& measured(const std::string& name) {
        for (auto& [ranName, ms] : m_measured)
            if (ranName == name)
                return ms;
        return m_measured.emplace_back(name, 0.0).second;
    }

    static double multiplierToMs(benchmark::TimeUnit unit) {
        switch (unit) {
        case benchmark::kNanosecond:
            return 1e-6;
        case benchmark::kMicrosecond:
            return 1e-3;
        case benchmark::kMillisecond:
            return 1;
        case benchmark::kSecond:
            return 1e3;
        }
        return 1;
    }

    std::map<std::string, double> m_goals;
    std::vector<std::pair<std::string, double>> m_measured;
};

} // namespace brumlis::bench
