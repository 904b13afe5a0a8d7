// The host's calculator language: every word, the variable references, and
// the refusal of malformed programs without any variable changing.
#include "runtime/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using runtime::Calculator;
using runtime::CalculatorError;
using runtime::VariableStore;
using Names = std::map<std::string, double>;

constexpr double kAbsoluteTime = 7200.5;

VariableStore store_with(const Names& names) {
    VariableStore vars;
    for (const auto& [name, value] : names) vars.set(name, value);
    return vars;
}

// --- Values left on the stack ---------------------------------------------------

struct StackCase {
    std::string program;
    std::vector<double> stack;  // bottom first
};

void expect_stacks(const std::vector<StackCase>& cases) {
    VariableStore vars;
    vars.set("L:nan", std::numeric_limits<double>::quiet_NaN());
    for (const StackCase& c : cases) {
        std::vector<double> stack;
        ASSERT_NO_THROW(stack = Calculator(vars, kAbsoluteTime).run(c.program)) << c.program;
        EXPECT_EQ(stack, c.stack) << c.program;
    }
}

TEST(CalculatorOperators, NumbersAndEveryOperator) {
    expect_stacks({
        {"", {}},          {"-.5", {-0.5}},    {"1.5e-1", {0.15}}, {"1\t2\n3\r\n4", {1, 2, 3, 4}},
        {"2 3 +", {5}},    {"2 3 -", {-1}},    {"4 2.5 *", {10}},  {"7 2 /", {3.5}},  // the top is the right operand
        {"-7 3 %", {-1}},  {"7.5 2 %", {1.5}},  // keeps the sign of the left operand
        {"5 ++", {6}},     {"5 --", {4}},      {"5 neg", {-5}},    {"1 2 3 + *", {5}},
        {"1 1 and", {1}},  {"1 0 and", {0}},   {"2 -3 and", {1}},  {"0 0 or", {0}},
        {"5 0 or", {1}},   {"0 not", {1}},     {"-0.5 not", {0}},  {"3 d", {3, 3}},
        {"1 2 r", {2, 1}}, {"1 2 p", {1}},     {"1 2 3 c 4", {4}},
    });
}

TEST(CalculatorOperators, ComparisonsGiveOneOrZero) {
    // Each comparison of 2 with 3, 2 and 1: below, equal, above.
    const struct {
        const char* op;
        double below, equal, above;
    } cases[] = {{"==", 0, 1, 0}, {"!=", 1, 0, 1}, {"<", 1, 0, 0}, {">", 0, 0, 1}, {"<=", 1, 1, 0}, {">=", 0, 1, 1}};
    for (const auto& c : cases) {
        const std::string op = c.op;
        expect_stacks({{"2 3 " + op, {c.below}}, {"2 2 " + op, {c.equal}}, {"2 1 " + op, {c.above}}});
    }
}

TEST(CalculatorOperators, NotANumberIsFalseAndComparesUnequal) {
    expect_stacks(
        {{"(L:nan) if{ 1 } els{ 2 }", {2}}, {"(L:nan) not", {1}}, {"(L:nan) (L:nan) ==", {0}}, {"(L:nan) 1 or", {1}}});
}

TEST(CalculatorOperators, Registers) {
    expect_stacks({
        {"5 s0 p l0 l0", {5, 5}},         // store keeps the value
        {"5 sp7 l7 l7 +", {10}},          // store and pop
        {"l49", {0}},                     // a register never stored reads 0
        {"3 sp12 4 sp1 l12 l1 -", {-1}},  // "sp12" and "sp1" are different registers
    });
}

TEST(CalculatorControl, IfElseAndQuit) {
    expect_stacks({
        {"0 if{ 10 }", {}},
        {"1 if{ 10 } els{ 20 } 30", {10, 30}},
        {"0 if{ 10 } els{ 20 } 30", {20, 30}},
        {"-2 if{ 1 } els{ 2 }", {1}},
        {"1 if{ 0 if{ 1 } els{ 2 } } els{ 3 }", {2}},
        {"0 if{ 0 if{ 1 } els{ 2 } } els{ 1 if{ 4 } els{ 5 } }", {4}},
        {"0 if{ } els{ }", {}},
        {"1 if{10}els{ 20 }", {10}},  // braces need no surrounding space
        {"1 quit 2", {1}},
        {"1 if{ 5 quit } 6", {5}},
        {"0 if{ 5 quit } 6", {6}},
        {"1 quit +", {1}},  // words after quit are checked but never run
    });
}

// --- Variables -------------------------------------------------------------------

struct VariableCase {
    std::string program;
    Names before;
    Names after;  // the whole store afterwards
    std::vector<double> stack;
};

TEST(CalculatorVariables, ReadsAndWrites) {
    std::vector<VariableCase> cases = {
        {"(L:never_set)", {}, {}, {0}},
        {"( L:a , number )", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"1 2 (> L:b,seconds)", {}, {{"L:b", 2}}, {1}},  // a write pops the top only
        {"(L:a) ++ (>L:a)", {{"L:a", 4}}, {{"L:a", 5}}, {}},
        {"3 (>L:a) (L:a) 1 +", {}, {{"L:a", 3}}, {4}},  // reads see the program's own writes
        {"1 (>L:a) 2 (>L:a)", {}, {{"L:a", 2}}, {}},    // the last write wins
        {"(L:Name With Space)", {{"L:Name With Space", 6}}, {{"L:Name With Space", 6}}, {6}},
        {"(L:A) (L:a)", {{"L:a", 1}, {"L:A", 2}}, {{"L:a", 1}, {"L:A", 2}}, {2, 1}},  // names keep their case
        {"(P:Absolute Time,seconds) (L:a) -", {{"L:a", 0.5}}, {{"L:a", 0.5}}, {7200}},
        {"(P:Absolute Time)", {}, {}, {kAbsoluteTime}},
        {"(L:a) if{ 1 (>L:b) } els{ 2 (>L:b) }", {{"L:a", 0}}, {{"L:a", 0}, {"L:b", 2}}, {}},
        {"5 (>L:b) quit 6 (>L:c)", {}, {{"L:b", 5}}, {}},  // quit keeps what was written before it
    };
    // Every unit a reference may name, in any case, reads and writes alike.
    for (const char* unit : {"number", "Number", "numbers", "seconds", "second", "bool", "boolean", "enum"}) {
        cases.push_back(
            {"(L:a," + std::string(unit) + ") (>L:b, " + unit + ")", {{"L:a", 4}}, {{"L:a", 4}, {"L:b", 4}}, {}});
    }
    for (const VariableCase& c : cases) {
        VariableStore vars = store_with(c.before);
        std::vector<double> stack;
        ASSERT_NO_THROW(stack = Calculator(vars, kAbsoluteTime).run(c.program)) << c.program;
        EXPECT_EQ(stack, c.stack) << c.program;
        EXPECT_EQ(vars.names(), c.after) << c.program;
    }
}

// --- Refusals ------------------------------------------------------------------------

struct ErrorCase {
    std::string program;
    std::string word;
    size_t position;
    const char* reason;  // part of the message
};

const Names kStartingNames{{"L:a", 1}, {"L:b", 2}};

// Each program is refused at the word and offset given, and a program refused
// at any point leaves every variable as it was, however many writes it made.
void expect_refused(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        VariableStore vars = store_with(kStartingNames);
        try {
            Calculator(vars, kAbsoluteTime).run(c.program);
            ADD_FAILURE() << "accepted: " << c.program;
        } catch (const CalculatorError& e) {
            EXPECT_EQ(e.word(), c.word) << c.program;
            EXPECT_EQ(e.position(), c.position) << c.program;
            const std::string message = e.what();
            EXPECT_NE(message.find(c.reason), std::string::npos) << c.program << " -> " << message;
            EXPECT_NE(message.find("'" + c.word + "' at offset " + std::to_string(c.position)), std::string::npos)
                << message;
        }
        EXPECT_EQ(vars.names(), kStartingNames) << "a refused program changed variables: " << c.program;
    }
}

TEST(CalculatorErrors, UnknownWordsAndMalformedNumbers) {
    expect_refused({
        {"1 2 plus", "plus", 4, "unknown word"},
        {"s50", "s50", 0, "unknown word"},
        {"l07", "l07", 0, "unknown word"},
        {"sp", "sp", 0, "unknown word"},
        {"1 +3", "+3", 2, "unknown word"},
        {"1 if {", "if", 2, "unknown word"},
        {"L:a", "L:a", 0, "unknown word"},
        {"nan", "nan", 0, "unknown word"},
        {"1.2.3", "1.2.3", 0, "malformed number"},
        {"0x10", "0x10", 0, "malformed number"},
        {"-1e", "-1e", 0, "malformed number"},
        {"1e999", "1e999", 0, "out of range"},
    });
}

TEST(CalculatorErrors, UnbalancedParenthesesAndBraces) {
    expect_refused({
        {"1 (>L:a 2", "(>L:a 2", 2, "no ')'"},
        {"(L:a (L:b)", "(L:a ", 0, "no ')'"},
        {"(L:a))", ")", 5, "no '('"},
        {"1 if{ 2 } els{ 3", "els{", 10, "no '}'"},
        {"1 if{ 0 if{ 2 }", "if{", 2, "no '}'"},
        {"1 if{ } }", "}", 8, "nothing open"},
        {"els{ 1 }", "els{", 0, "no 'if{"},
        {"1 if{ 2 } 3 els{ 4 }", "els{", 12, "no 'if{"},
        {"1 if{ 2 } els{ 3 } els{ 4 }", "els{", 19, "no 'if{"},
        {"9 (>L:a) 1 if{ 2 (>L:b)", "if{", 11, "no '}'"},
    });
}

TEST(CalculatorErrors, BadReferences) {
    expect_refused({
        {"(L:a, furlongs)", "(L:a, furlongs)", 0, "unknown unit"},
        {"(L:a,)", "(L:a,)", 0, "missing unit"},
        {"(L:)", "(L:)", 0, "malformed variable"},
        {"(La)", "(La)", 0, "malformed variable"},
        {"(>)", "(>)", 0, "malformed variable"},
        {"(l:a)", "(l:a)", 0, "unknown variable kind"},
        {"(P:Local Time, seconds)", "(P:Local Time, seconds)", 0, "unknown program variable"},
        {"1 (>P:Absolute Time, seconds)", "(>P:Absolute Time, seconds)", 2, "read-only"},
    });
}

TEST(CalculatorErrors, StackUnderflowAndDivisionByZero) {
    std::vector<ErrorCase> cases = {
        {"1 +", "+", 2, "stack underflow (needs 2, holds 1)"},
        {"1 2 c +", "+", 6, "stack underflow"},
        {"1 p p", "p", 4, "stack underflow"},
        {"9 (>L:a) 9 (>L:c) +", "+", 18, "stack underflow"},
        {"9 (>L:c) 1 if{ 9 (>L:b) p }", "p", 24, "stack underflow"},
        {"1 0 /", "/", 4, "division by zero"},
        {"1 -0 /", "/", 5, "division by zero"},
        {"5 0 %", "%", 4, "division by zero"},
        {"9 (>L:a) (L:a) (L:unset) /", "/", 25, "division by zero"},
    };
    // Every word that takes two values refuses one, every word that takes one
    // refuses none.
    for (const char* word : {"+", "-", "*", "/", "%", "==", "!=", "<", ">", "<=", ">=", "and", "or", "r"}) {
        cases.push_back({std::string("1 ") + word, word, 2, "stack underflow"});
    }
    for (const char* word : {"++", "--", "neg", "not", "d", "p", "s3", "sp3", "(>L:a)"}) {
        cases.push_back({word, word, 0, "stack underflow"});
    }
    cases.push_back({"if{ 1 }", "if{", 0, "stack underflow"});
    expect_refused(cases);
}

}  // namespace
