#pragma once

// Console output of Google Benchmark followed by time ratios between named
// benchmarks of the same run (the median when repetitions are asked for).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    struct Ratio {
        std::string label;
        std::string numerator; // full benchmark name, arguments included
        std::string denominator;
    };

    // Which time the ratios take: the wall clock, or the process's CPU time
    // (for single-threaded work on a machine other jobs share).
    enum class Time { Real, Cpu };

    explicit RatioReporter(std::vector<Ratio> ratios, Time time = Time::Real)
        : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_Tabular), ratios_(std::move(ratios)),
          time_(time) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred)
                continue;
            const std::string name = r.run_name.str();
            const double t = time_ == Time::Cpu ? r.GetAdjustedCPUTime() : r.GetAdjustedRealTime();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians_[name] = t;
            else if (r.run_type == Run::RT_Iteration)
                times_[name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const Ratio& ratio : ratios_) {
            const double a = find(ratio.numerator);
            const double b = find(ratio.denominator);
            if (a > 0 && b > 0)
                std::printf("%-48s %7.2f\n", ratio.label.c_str(), a / b);
        }
    }

private:
    double find(const std::string& name) const {
        if (const auto m = medians_.find(name); m != medians_.end())
            return m->second;
        const auto t = times_.find(name);
        return t == times_.end() ? 0.0 : t->second;
    }

    std::vector<Ratio> ratios_;
    Time time_;
    std::map<std::string, double> times_;
    std::map<std::string, double> medians_;
};
