// The host's calculator: programs in reverse Polish notation over the host's
// named variables, as the simulator runs them for gauges that hand it program
// text.
//
// A program is a sequence of words separated by white space. Values are
// doubles on a stack.
//   numbers           1  -2.5  1e3            push the number
//   (L:name, unit)    (L:Bombs_dropped)       push a local variable (never set: 0)
//   (>L:name, unit)   (>L:Repeat,number)      pop the top into a local variable
//   (P:Absolute Time, seconds)                push the host's absolute time
//   + - * / %         binary: the top is the right operand; % keeps the sign of the left
//   ++ -- neg         add one, subtract one, negate the top
//   == != < > <= >=   compare: push 1 or 0
//   and or not        logic on truth values (a number other than 0 and not NaN is true)
//   d r p c           duplicate, swap the top two, pop, clear the stack
//   s0-s49 l0-l49     store the top in a register (keeping it), load a register (initially 0)
//   sp0-sp49          store the top in a register and pop it
//   if{ ... } els{ ... }   pop a condition; run the first block when true, else the second
//   quit              end the program here
// Units (after a comma, the space optional): number, numbers, bool, boolean,
// enum, seconds, second; every one is taken as is, without conversion.
//
// A program is all or nothing: it is checked before it runs, its variable
// writes are held back until it ends (reads see them), and a program refused
// for any fault changes no variable.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/variables.h"

namespace runtime {

// A refused program: which word, where, and why.
class CalculatorError : public std::runtime_error {
public:
    CalculatorError(std::string word, size_t position, const std::string& message);
    // The offending word as written (for an unclosed parenthesis, the text
    // from the parenthesis on).
    const std::string& word() const { return word_; }
    // Byte offset of the word in the program text.
    size_t position() const { return position_; }

private:
    std::string word_;
    size_t position_;
};

class Calculator {
public:
    // Runs over `vars`; P:Absolute Time reads `absolute_time_seconds`.
    Calculator(VariableStore& vars, double absolute_time_seconds)
        : vars_(vars), absolute_time_(absolute_time_seconds) {}

    // Runs one program and returns the stack it leaves, bottom first. Throws
    // CalculatorError for a malformed program (unbalanced parentheses or
    // braces, an unknown word, a bad number or unit, a write to a read-only
    // variable) or a fault while it runs (stack underflow, division by zero);
    // then no variable has changed.
    std::vector<double> run(std::string_view program) const;

private:
    VariableStore& vars_;
    double absolute_time_;
};

}  // namespace runtime
