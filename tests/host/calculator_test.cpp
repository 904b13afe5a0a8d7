// The host's calculator language: every word, the variable references, and
// the refusal of malformed programs without any variable changing.
#include "host/calculator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using bench::Calculator;
using bench::CalculatorError;
using bench::VariableStore;
using Names = std::map<std::string, double>;

constexpr double kAbsoluteTime = 7200.5;

VariableStore store_with(const Names& names) {
    VariableStore vars;
    for (const auto& [name, value] : names) vars.set(name, value);
    return vars;
}

// --- Values left on the stack ---------------------------------------------------

struct StackCase {
    const char* program;
    std::vector<double> stack;  // bottom first
};

void expect_stack(const StackCase& c, const Names& start = {}) {
    VariableStore vars = store_with(start);
    std::vector<double> stack;
    ASSERT_NO_THROW(stack = Calculator(vars, kAbsoluteTime).run(c.program)) << c.program;
    EXPECT_EQ(stack, c.stack) << c.program;
}

TEST(CalculatorGrammar, NumbersAndWhiteSpace) {
    const StackCase cases[] = {
        {"", {}},
        {"   \t\n ", {}},
        {"42", {42}},
        {"-2.5", {-2.5}},
        {".25", {0.25}},
        {"-.5", {-0.5}},
        {"1e3", {1000}},
        {"1.5e-1", {0.15}},
        {"1\t2\n3\r\n4", {1, 2, 3, 4}},
        {"  7  ", {7}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, Arithmetic) {
    const StackCase cases[] = {
        {"2 3 +", {5}},
        {"2 3 -", {-1}},  // the top is the right operand
        {"4 2.5 *", {10}},
        {"7 2 /", {3.5}},
        {"7 3 %", {1}},
        {"-7 3 %", {-1}},  // keeps the sign of the left operand
        {"7.5 2 %", {1.5}},
        {"5 ++", {6}},
        {"5 --", {4}},
        {"5 neg", {-5}},
        {"0 neg neg", {0}},
        {"1 2 3 + *", {5}},
        {"10 4 - 3 -", {3}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, ComparisonsGiveOneOrZero) {
    const StackCase cases[] = {
        {"2 2 ==", {1}}, {"2 3 ==", {0}}, {"2 3 !=", {1}}, {"2 2 !=", {0}},
        {"2 3 <", {1}},  {"3 2 <", {0}},  {"3 2 >", {1}},  {"2 3 >", {0}},
        {"2 2 <=", {1}}, {"3 2 <=", {0}}, {"2 2 >=", {1}}, {"2 3 >=", {0}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, Logic) {
    const StackCase cases[] = {
        {"1 1 and", {1}}, {"1 0 and", {0}}, {"0 0 and", {0}}, {"2 -3 and", {1}},
        {"0 1 or", {1}},  {"0 0 or", {0}},  {"5 0 or", {1}},
        {"0 not", {1}},   {"1 not", {0}},   {"-0.5 not", {0}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, StackWords) {
    const StackCase cases[] = {
        {"3 d", {3, 3}},
        {"3 d *", {9}},
        {"1 2 r", {2, 1}},
        {"1 2 r -", {1}},
        {"1 2 p", {1}},
        {"1 2 3 c", {}},
        {"1 2 3 c 4", {4}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, Registers) {
    const StackCase cases[] = {
        {"5 s0", {5}},              // store keeps the value
        {"5 s0 p l0 l0", {5, 5}},
        {"5 sp0", {}},              // store and pop
        {"5 sp7 l7 l7 +", {10}},
        {"l49", {0}},               // a register never stored reads 0
        {"1 s0 2 s49 p p l49 l0", {2, 1}},
        {"3 sp12 4 sp1 l12 l1 -", {-1}},  // "sp12" and "sp1" are different registers
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorControl, IfElse) {
    const StackCase cases[] = {
        {"1 if{ 10 }", {10}},
        {"0 if{ 10 }", {}},
        {"1 if{ 10 } els{ 20 }", {10}},
        {"0 if{ 10 } els{ 20 }", {20}},
        {"0 if{ 10 } els{ 20 } 30", {20, 30}},
        {"1 if{ 10 } els{ 20 } 30", {10, 30}},
        {"-2 if{ 1 } els{ 2 }", {1}},
        {"1 if{ 0 if{ 1 } els{ 2 } } els{ 3 }", {2}},
        {"0 if{ 0 if{ 1 } els{ 2 } } els{ 1 if{ 4 } els{ 5 } }", {4}},
        {"1 if{ }", {}},
        {"0 if{ } els{ }", {}},
        {"3 5 < if{ 7 }", {7}},
        {"1 if{10}", {10}},  // braces need no surrounding space
        {"1 if{ 10 }els{ 20 }", {10}},
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorControl, QuitEndsTheProgram) {
    const StackCase cases[] = {
        {"1 quit 2", {1}},
        {"quit", {}},
        {"1 if{ 5 quit } 6", {5}},
        {"0 if{ 5 quit } 6", {6}},
        {"1 quit +", {1}},  // words after quit are checked but never run
    };
    for (const StackCase& c : cases) expect_stack(c);
}

TEST(CalculatorOperators, NotANumberIsFalseAndComparesUnequal) {
    VariableStore vars;
    vars.set("L:nan", std::numeric_limits<double>::quiet_NaN());
    const StackCase cases[] = {
        {"(L:nan) if{ 1 } els{ 2 }", {2}},
        {"(L:nan) not", {1}},
        {"(L:nan) (L:nan) ==", {0}},
        {"(L:nan) 1 or", {1}},
    };
    for (const StackCase& c : cases) {
        EXPECT_EQ(Calculator(vars, 0).run(c.program), c.stack) << c.program;
    }
}

// --- Variables -------------------------------------------------------------------

struct VariableCase {
    const char* program;
    Names before;
    Names after;  // the whole store afterwards
    std::vector<double> stack;
};

TEST(CalculatorVariables, ReadsAndWrites) {
    const VariableCase cases[] = {
        {"(L:a)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:never_set)", {}, {}, {0}},
        {"(L:a, number)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a,number)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"( L:a , number )", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a, Number)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a, numbers)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a, seconds)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a, second)", {{"L:a", 4}}, {{"L:a", 4}}, {4}},
        {"(L:a, bool)", {{"L:a", 1}}, {{"L:a", 1}}, {1}},
        {"(L:a, boolean)", {{"L:a", 1}}, {{"L:a", 1}}, {1}},
        {"(L:a, enum)", {{"L:a", 3}}, {{"L:a", 3}}, {3}},
        {"3 (>L:b)", {}, {{"L:b", 3}}, {}},
        {"3 (>L:b, number)", {}, {{"L:b", 3}}, {}},
        {"3 (>L:b,seconds)", {}, {{"L:b", 3}}, {}},
        {"3 (> L:b)", {}, {{"L:b", 3}}, {}},
        {"1 2 (>L:b)", {}, {{"L:b", 2}}, {1}},  // a write pops the top only
        {"(L:a) ++ (>L:a)", {{"L:a", 4}}, {{"L:a", 5}}, {}},
        {"(L:a) (>L:b)", {{"L:a", 4}}, {{"L:a", 4}, {"L:b", 4}}, {}},
        {"3 (>L:a) (L:a) 1 +", {}, {{"L:a", 3}}, {4}},  // reads see the program's own writes
        {"1 (>L:a) 2 (>L:a)", {}, {{"L:a", 2}}, {}},    // the last write wins
        {"(L:Name With Space)", {{"L:Name With Space", 6}}, {{"L:Name With Space", 6}}, {6}},
        {"(L:A) (L:a)", {{"L:a", 1}, {"L:A", 2}}, {{"L:a", 1}, {"L:A", 2}}, {2, 1}},  // names keep their case
        {"(P:Absolute Time, seconds)", {}, {}, {kAbsoluteTime}},
        {"(P:Absolute Time)", {}, {}, {kAbsoluteTime}},
        {"(P:Absolute Time,seconds) (L:a) -", {{"L:a", 0.5}}, {{"L:a", 0.5}}, {7200}},
        {"(L:a) if{ 1 (>L:b) } els{ 2 (>L:b) }", {{"L:a", 0}}, {{"L:a", 0}, {"L:b", 2}}, {}},
        {"5 (>L:b) quit 6 (>L:c)", {}, {{"L:b", 5}}, {}},  // quit keeps what was written before it
    };
    for (const VariableCase& c : cases) {
        VariableStore vars = store_with(c.before);
        std::vector<double> stack;
        ASSERT_NO_THROW(stack = Calculator(vars, kAbsoluteTime).run(c.program)) << c.program;
        EXPECT_EQ(stack, c.stack) << c.program;
        EXPECT_EQ(vars.names(), c.after) << c.program;
    }
}

TEST(CalculatorVariables, TheClockIsTheOneGivenToTheCalculator) {
    const double times[] = {0.0, 1.0, 63871234567.25, -5.0};
    for (double t : times) {
        VariableStore vars;
        EXPECT_EQ(Calculator(vars, t).run("(P:Absolute Time, seconds)"), std::vector<double>{t});
    }
}

// --- Refusals ------------------------------------------------------------------------

struct ErrorCase {
    const char* program;
    const char* word;
    size_t position;
    const char* reason;  // part of the message
};

const Names kStartingNames{{"L:a", 1}, {"L:b", 2}};

void expect_refused(const ErrorCase& c) {
    VariableStore vars = store_with(kStartingNames);
    try {
        Calculator(vars, kAbsoluteTime).run(c.program);
        ADD_FAILURE() << "accepted: " << c.program;
    } catch (const CalculatorError& e) {
        EXPECT_EQ(e.word(), c.word) << c.program;
        EXPECT_EQ(e.position(), c.position) << c.program;
        const std::string message = e.what();
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.program << " -> " << message;
        EXPECT_NE(message.find("'" + std::string(c.word) + "'"), std::string::npos) << message;
        EXPECT_NE(message.find("offset " + std::to_string(c.position)), std::string::npos) << message;
    }
    EXPECT_EQ(vars.names(), kStartingNames) << "a refused program changed variables: " << c.program;
}

TEST(CalculatorErrors, UnknownWordsAndMalformedNumbers) {
    const ErrorCase cases[] = {
        {"1 2 plus", "plus", 4, "unknown word"},
        {"foo", "foo", 0, "unknown word"},
        {"s50", "s50", 0, "unknown word"},
        {"l07", "l07", 0, "unknown word"},
        {"sp", "sp", 0, "unknown word"},
        {"s", "s", 0, "unknown word"},
        {"1 +3", "+3", 2, "unknown word"},
        {"if", "if", 0, "unknown word"},
        {"1 if {", "if", 2, "unknown word"},
        {"L:a", "L:a", 0, "unknown word"},
        {"nan", "nan", 0, "unknown word"},
        {"1.2.3", "1.2.3", 0, "malformed number"},
        {"0x10", "0x10", 0, "malformed number"},
        {"-1e", "-1e", 0, "malformed number"},
        {"1e999", "1e999", 0, "out of range"},
        {"5 (>L:a) 1 2 bogus", "bogus", 13, "unknown word"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

TEST(CalculatorErrors, UnbalancedParenthesesAndBraces) {
    const ErrorCase cases[] = {
        {"(L:a", "(L:a", 0, "no ')'"},
        {"1 (>L:a 2", "(>L:a 2", 2, "no ')'"},
        {"(L:a (L:b)", "(L:a ", 0, "no ')'"},
        {"1 )", ")", 2, "no '('"},
        {"(L:a))", ")", 5, "no '('"},
        {"1 if{ 2", "if{", 2, "no '}'"},
        {"1 if{ 2 } els{ 3", "els{", 10, "no '}'"},
        {"1 if{ 0 if{ 2 }", "if{", 2, "no '}'"},
        {"1 }", "}", 2, "nothing open"},
        {"1 if{ } }", "}", 8, "nothing open"},
        {"els{ 1 }", "els{", 0, "no 'if{"},
        {"1 if{ 2 } 3 els{ 4 }", "els{", 12, "no 'if{"},
        {"1 if{ 2 } els{ 3 } els{ 4 }", "els{", 19, "no 'if{"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

TEST(CalculatorErrors, BadReferences) {
    const ErrorCase cases[] = {
        {"(L:a, furlongs)", "(L:a, furlongs)", 0, "unknown unit"},
        {"(L:a,)", "(L:a,)", 0, "missing unit"},
        {"()", "()", 0, "malformed variable"},
        {"(L:)", "(L:)", 0, "malformed variable"},
        {"(La)", "(La)", 0, "malformed variable"},
        {"(>)", "(>)", 0, "malformed variable"},
        {"(A:AIRSPEED INDICATED, knots)", "(A:AIRSPEED INDICATED, knots)", 0, "unknown unit"},
        {"(A:AIRSPEED INDICATED, number)", "(A:AIRSPEED INDICATED, number)", 0, "unknown variable kind"},
        {"(l:a)", "(l:a)", 0, "unknown variable kind"},
        {"(P:Local Time, seconds)", "(P:Local Time, seconds)", 0, "unknown program variable"},
        {"1 (>P:Absolute Time, seconds)", "(>P:Absolute Time, seconds)", 2, "read-only"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

TEST(CalculatorErrors, StackUnderflowNamesTheWord) {
    const ErrorCase cases[] = {
        {"+", "+", 0, "stack underflow"},
        {"1 +", "+", 2, "stack underflow (needs 2, holds 1)"},
        {"1 -", "-", 2, "stack underflow"},
        {"1 *", "*", 2, "stack underflow"},
        {"1 /", "/", 2, "stack underflow"},
        {"1 %", "%", 2, "stack underflow"},
        {"++", "++", 0, "stack underflow"},
        {"--", "--", 0, "stack underflow"},
        {"neg", "neg", 0, "stack underflow"},
        {"1 ==", "==", 2, "stack underflow"},
        {"1 !=", "!=", 2, "stack underflow"},
        {"1 <", "<", 2, "stack underflow"},
        {"1 >", ">", 2, "stack underflow"},
        {"1 <=", "<=", 2, "stack underflow"},
        {"1 >=", ">=", 2, "stack underflow"},
        {"1 and", "and", 2, "stack underflow"},
        {"1 or", "or", 2, "stack underflow"},
        {"not", "not", 0, "stack underflow"},
        {"d", "d", 0, "stack underflow"},
        {"1 r", "r", 2, "stack underflow"},
        {"p", "p", 0, "stack underflow"},
        {"s3", "s3", 0, "stack underflow"},
        {"sp3", "sp3", 0, "stack underflow"},
        {"(>L:a)", "(>L:a)", 0, "stack underflow"},
        {"if{ 1 }", "if{", 0, "stack underflow"},
        {"1 2 c +", "+", 6, "stack underflow"},
        {"1 p p", "p", 4, "stack underflow"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

TEST(CalculatorErrors, DivisionByZero) {
    const ErrorCase cases[] = {
        {"1 0 /", "/", 4, "division by zero"},
        {"0 0 /", "/", 4, "division by zero"},
        {"1 -0 /", "/", 5, "division by zero"},
        {"5 0 %", "%", 4, "division by zero"},
        {"(L:a) (L:unset) /", "/", 16, "division by zero"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

// A program refused at any point leaves every variable as it was, however
// many writes it made before the fault.
TEST(CalculatorErrors, RefusedProgramsWriteNothing) {
    const ErrorCase cases[] = {
        {"9 (>L:a) 9 (>L:c) +", "+", 18, "stack underflow"},
        {"9 (>L:a) 1 0 /", "/", 13, "division by zero"},
        {"9 (>L:c) 1 if{ 9 (>L:b) p }", "p", 24, "stack underflow"},
        {"9 (>L:a) (L:a) (>L:b) undefined_word", "undefined_word", 22, "unknown word"},
        {"9 (>L:a) 1 if{ 2 (>L:b)", "if{", 11, "no '}'"},
        {"9 (>L:a) (L:b", "(L:b", 9, "no ')'"},
    };
    for (const ErrorCase& c : cases) expect_refused(c);
}

// The two programs the bomb counter hands the host, run here directly.
TEST(CalculatorVariables, BombCounterPrograms) {
    VariableStore vars = store_with({{"L:Bombs_dropped", 4}, {"L:Vq17_Nbr_Sum", 12}, {"L:Vq17_Interv_Sum", 0.75}});
    const Calculator calculator(vars, 1000.0);
    calculator.run("(L:Bombs_dropped) ++ (>L:Bombs_dropped)");
    EXPECT_EQ(vars.get("L:Bombs_dropped"), 5);
    calculator.run(
        "0 (>L:Bombs_dropped) (L:Vq17_Nbr_Sum, number) (>L:Repeat) (P:Absolute Time, seconds) "
        "(L:Vq17_Interv_Sum, seconds) - (>L:Elapsed,seconds)");
    EXPECT_EQ(vars.names(), (Names{{"L:Bombs_dropped", 0},
                                   {"L:Vq17_Nbr_Sum", 12},
                                   {"L:Vq17_Interv_Sum", 0.75},
                                   {"L:Repeat", 12},
                                   {"L:Elapsed", 999.25}}));
}

}  // namespace
