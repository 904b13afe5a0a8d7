// The host's execute_calculator_code: installs the calculator on a Host, so
// that programs handed over by modules run on the host's variables, with the
// host's absolute time kept here.
#pragma once

#include <vector>

#include "runtime/calculator.h"
#include "runtime/host.h"

namespace runtime {

class HostCalculator {
public:
    // Installs itself as `host`'s calculator until destroyed.
    explicit HostCalculator(Host& host, double absolute_time_seconds = 0.0);
    ~HostCalculator();
    HostCalculator(const HostCalculator&) = delete;
    HostCalculator& operator=(const HostCalculator&) = delete;

    // What P:Absolute Time reads in the programs that run from now on.
    void set_absolute_time_seconds(double seconds) { absolute_time_ = seconds; }
    double absolute_time_seconds() const { return absolute_time_; }

    // Programs the calculator refused, in order. A refusal is kept rather
    // than thrown: the call arrives through a module's code, which cannot
    // pass an exception on.
    const std::vector<CalculatorError>& errors() const { return errors_; }

private:
    void run(const char* program);

    Host& host_;
    double absolute_time_;
    std::vector<CalculatorError> errors_;
};

}  // namespace runtime
