// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// For benchmarks of whole passes or processes, timed a few times each: on a
// shared machine other work only ever adds time, so the fastest run counts.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

// The statistic to register as ComputeStatistics("min", fastest).
inline double fastest(const std::vector<double>& times)
{
    return *std::min_element(times.begin(), times.end());
}

// Prints as the console reporter does and remembers each benchmark's fastest
// run in wall seconds, by name ("Batch/jobs:2"), for the ratios printed after.
class FastestRunReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "min") {
                std::string name = run.run_name.function_name;
                if (!run.run_name.args.empty())
                    name += "/" + run.run_name.args;
                seconds[name] = run.real_accumulated_time / double(run.iterations);
            }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> seconds;
};
