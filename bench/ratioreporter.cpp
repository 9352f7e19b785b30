#include "ratioreporter.h"

#include <cstdio>

void RatioReporter::ReportRuns(const std::vector<Run> &runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run &run : runs) {
        if (run.error_occurred)
            continue;
        // With --benchmark_repetitions the median stands for the benchmark.
        if (run.run_type == Run::RT_Iteration && !m_medians.contains(run.run_name.str()))
            m_times[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        else if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
            m_times[run.run_name.str()] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
            m_medians.insert(run.run_name.str());
        }
    }
}

bool RatioReporter::reportRatios(const std::vector<RatioTarget> &targets) const
{
    bool allMet = true;
    std::printf("\nRatios measured in this run:\n");
    for (const RatioTarget &target : targets) {
        const auto measured = m_times.find(target.measured);
        const auto baseline = m_times.find(target.baseline);
        double ratio = 0;
        if (target.measure == RatioTarget::Measure::CpuOverRealTime && measured != m_times.end()) {
            ratio = measured->second.cpu / measured->second.real;
        } else if (measured != m_times.end() && baseline != m_times.end()) {
            ratio = measured->second.real / baseline->second.real;
        } else {
            std::printf("  %-60s not run\n", target.description.c_str());
            allMet = false;
            continue;
        }
        const bool met = ratio <= target.atMost;
        allMet = allMet && met;
        std::printf("  %-60s %9.4f  (at most %.2f)  %s\n", target.description.c_str(), ratio, target.atMost,
                    met ? "met" : "MISSED");
    }
    return allMet;
}

int runBenchmarks(int argc, char **argv, const std::vector<RatioTarget> &targets)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.reportRatios(targets) ? 0 : 1;
}
