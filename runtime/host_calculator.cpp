#include "runtime/host_calculator.h"

namespace runtime {

HostCalculator::HostCalculator(Host& host, double absolute_time_seconds)
    : host_(host), absolute_time_(absolute_time_seconds) {
    host_.set_calculator([this](const char* program) { run(program); });
}

HostCalculator::~HostCalculator() { host_.set_calculator({}); }

void HostCalculator::run(const char* program) {
    if (program == nullptr) {
        errors_.emplace_back("", 0, "calculator: no program text");
        return;
    }
    try {
        Calculator(host_.vars(), absolute_time_).run(program);
    } catch (const CalculatorError& error) {
        errors_.push_back(error);
    }
}

}  // namespace runtime
