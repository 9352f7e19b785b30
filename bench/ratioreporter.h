#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// A figure the benchmarks must reach, as a ratio of two measurements of the same run.
struct RatioTarget
{
    enum class Measure { RealTime, CpuOverRealTime };

    std::string description;
    std::string measured; // benchmark name (numerator)
    std::string baseline; // benchmark name (denominator); unused for CpuOverRealTime
    double atMost = 0;
    Measure measure = Measure::RealTime;
};

// Prints the usual console table, then each target's ratio from this very run.
class RatioReporter final : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run> &runs) override;

    // Prints one line per target; returns false when a target is missed or was not run.
    [[nodiscard]] bool reportRatios(const std::vector<RatioTarget> &targets) const;

private:
    struct Times
    {
        double real = 0;
        double cpu = 0;
    };
    std::map<std::string, Times> m_times;
    std::set<std::string> m_medians;
};

// Runs the registered benchmarks and checks the targets; the process's exit code.
int runBenchmarks(int argc, char **argv, const std::vector<RatioTarget> &targets);
