#pragma once

#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace brumlis::bench {

/// Console output as usual, then one table that puts each benchmark's mean CPU time per
/// iteration next to the goal it is held to. CPU time, because the machine is shared:
/// wall time would count whatever else runs beside the benchmark.
class GoalReporter : public benchmark::ConsoleReporter {
public:
    /// `goals` maps a benchmark name to its goal in milliseconds.
    explicit GoalReporter(std::map<std::string, double> goals)
        : m_goals(std::move(goals)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                m_measured[run.benchmark_name()] =
                    run.GetAdjustedCPUTime() * multiplierToMs(run.time_unit);
    }

    /// Prints the table; returns false when a goal was missed or a figure with a goal
    /// was never measured. main() turns that into its exit code.
    bool printTable() const {
        bool allMet = true;
        std::printf("\n%-44s %14s %14s  %s\n", "figure", "CPU time", "goal", "");
        for (const auto& [name, goal] : m_goals) {
            if (!m_measured.count(name)) {
                std::printf("%-44s %14s %11s%.3g ms  MISSED (not measured)\n", name.c_str(), "-",
                            "<= ", goal);
                allMet = false;
            }
        }
        for (const auto& [name, ms] : m_measured) {
            const auto goal = m_goals.find(name);
            if (goal == m_goals.end()) {
                std::printf("%-44s %11.4f ms %14s\n", name.c_str(), ms, "-");
                continue;
            }
            const bool met = ms <= goal->second;
            allMet &= met;
            std::printf("%-44s %11.4f ms %11s%.3g ms  %s\n", name.c_str(), ms, "<= ", goal->second,
                        met ? "met" : "MISSED");
        }
        return allMet;
    }

private:
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
    std::map<std::string, double> m_measured;
};

} // namespace brumlis::bench
