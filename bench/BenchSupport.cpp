#include "BenchSupport.h"

#include <cstdio>

namespace tidewire::bench {

void KeepingReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        if (run.error_occurred) {
            errored_[run.benchmark_name()] = run.error_message;
        } else if (run.run_type == Run::RT_Iteration) {
            runs_[run.benchmark_name()] = run;
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

double KeepingReporter::NanosPerIteration(const std::string& name) const {
    const auto found = runs_.find(name);
    if (found == runs_.end() || found->second.iterations == 0) {
        return -1.0;
    }
    // Real time, converted to nanoseconds whatever unit the benchmark prints in.
    const Run& run = found->second;
    return run.real_accumulated_time * 1e9 / static_cast<double>(run.iterations);
}

double KeepingReporter::Counter(const std::string& name, const std::string& counter) const {
    const auto found = runs_.find(name);
    if (found == runs_.end()) {
        return -1.0;
    }
    const auto value = found->second.counters.find(counter);
    return value == found->second.counters.end() ? -1.0 : static_cast<double>(value->second);
}

void RunAll(int argc, char** argv, KeepingReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}

BudgetTable::BudgetTable(const char* title) {
    std::printf("\n== %s\n%-48s %-22s %-22s %s\n", title, "figure", "measured", "budget",
                "verdict");
}

void BudgetTable::Line(const std::string& figure, const std::string& value,
                       const std::string& budget, bool held) {
    ++lines_;
    if (!held) {
        ++missed_;
    }
    std::printf("%-48s %-22s %-22s %s\n", figure.c_str(), value.c_str(), budget.c_str(),
                held ? "held" : "MISSED");
}

void BudgetTable::Info(const std::string& figure, const std::string& value) {
    std::printf("%-48s %-22s %-22s %s\n", figure.c_str(), value.c_str(), "(no budget)", "-");
}

int BudgetTable::Finish() const {
    std::printf("-- %d budgets, %d held, %d missed\n", lines_, lines_ - missed_, missed_);
    std::fflush(stdout);
    return missed_;
}

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace tidewire::bench
