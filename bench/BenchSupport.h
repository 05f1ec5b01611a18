// What every benchmark program here shares: a heap-call counter that sees every allocation of
// the process (the C library's and operator new's alike), a reporter that keeps the timings of
// one run so ratios can be taken between them, and the lines that print a figure beside its
// budget.
#ifndef TIDEWIRE_BENCH_BENCHSUPPORT_H
#define TIDEWIRE_BENCH_BENCHSUPPORT_H

#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "HeapCounter.h"

namespace tidewire::bench {

using heapcount::HeapCalls;
using heapcount::WatchedThreadHeapCalls;
using heapcount::WatchThisThread;

// Keeps the nanoseconds per iteration of every benchmark run, by name, and still prints the
// usual table.
class KeepingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override;
    // Nanoseconds per iteration, or a negative number when the benchmark did not run.
    double NanosPerIteration(const std::string& name) const;
    // A counter of a run (as set through state.counters), or a negative number.
    double Counter(const std::string& name, const std::string& counter) const;
    // True when the benchmark ran and stopped with an error.
    bool Errored(const std::string& name) const { return errored_.count(name) != 0; }

  private:
    std::map<std::string, Run> runs_;
    std::map<std::string, std::string> errored_;
};

// Runs the benchmarks selected on the command line through reporter.
void RunAll(int argc, char** argv, KeepingReporter& reporter);

// One line: "figure  value  budget  held|MISSED". Counts what was missed.
class BudgetTable {
  public:
    explicit BudgetTable(const char* title);
    // held says whether the figure keeps its budget.
    void Line(const std::string& figure, const std::string& value, const std::string& budget,
              bool held);
    // A figure the issue asks to see without a budget.
    void Info(const std::string& figure, const std::string& value);
    // Prints the tally; returns the number of budgets missed.
    int Finish() const;

  private:
    int missed_ = 0;
    int lines_ = 0;
};

std::string Format(const char* format, double value);

}  // namespace tidewire::bench

#endif
