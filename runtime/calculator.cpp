#include "runtime/calculator.h"
#include "platform/text_input.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>

namespace runtime {
namespace {

constexpr int kRegisterCount = 50;
// How much of an unclosed parenthesis the error quotes.
constexpr size_t kQuotedTextLimit = 40;

std::string describe(const std::string& word, size_t position, const std::string& what) {
    return "calculator: " + what + " '" + word + "' at offset " + std::to_string(position);
}

[[noreturn]] void refuse(const std::string& word, size_t position, const std::string& what) {
    throw CalculatorError(word, position, describe(word, position, what));
}

// --- Words -------------------------------------------------------------------

struct Word {
    std::string text;
    size_t position = 0;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Splits the text into words. A parenthesised reference is one word, spaces
// included; '}' stands alone; a word ends after a '{' ("if{", "els{").
std::vector<Word> split_words(std::string_view text) {
    std::vector<Word> words;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (is_space(c)) {
            ++i;
            continue;
        }
        const size_t start = i;
        if (c == '(') {
            const size_t close = text.find_first_of("()", i + 1);
            if (close == std::string_view::npos || text[close] == '(') {
                const size_t end = close == std::string_view::npos ? text.size() : close;
                refuse(std::string(text.substr(start, std::min(end - start, kQuotedTextLimit))), start,
                       "unbalanced parenthesis: no ')' closes");
            }
            words.push_back({std::string(text.substr(start, close + 1 - start)), start});
            i = close + 1;
            continue;
        }
        if (c == ')') refuse(")", start, "unbalanced parenthesis: no '(' opens");
        if (c == '}') {
            words.push_back({"}", start});
            ++i;
            continue;
        }
        while (i < text.size() && !is_space(text[i]) && text[i] != '(' && text[i] != ')' && text[i] != '}') {
            if (text[i++] == '{') break;
        }
        words.push_back({std::string(text.substr(start, i - start)), start});
    }
    return words;
}

// --- Instructions ------------------------------------------------------------

enum class Op {
    Push,
    ReadLocal,
    ReadAbsoluteTime,
    WriteLocal,
    Add,
    Subtract,
    Multiply,
    Divide,
    Modulo,
    Increment,
    Decrement,
    Negate,
    Equal,
    NotEqual,
    Less,
    Greater,
    LessEqual,
    GreaterEqual,
    And,
    Or,
    Not,
    Duplicate,
    Swap,
    Pop,
    Clear,
    Store,
    Load,
    StorePop,
    BranchIfFalse,  // pops the condition; jumps to target when false
    Jump,
    Quit,
};

struct Instruction {
    Op op = Op::Quit;
    const Word* word = nullptr;  // for errors
    double number = 0.0;         // Push
    std::string name{};          // ReadLocal, WriteLocal: the full name ("L:Repeat")
    int reg = 0;                 // Store, Load, StorePop
    size_t target = 0;           // BranchIfFalse, Jump
};

struct NamedOp {
    std::string_view word;
    Op op;
};

constexpr std::array kOperators{
    NamedOp{"+", Op::Add},        NamedOp{"-", Op::Subtract},      NamedOp{"*", Op::Multiply},
    NamedOp{"/", Op::Divide},     NamedOp{"%", Op::Modulo},        NamedOp{"++", Op::Increment},
    NamedOp{"--", Op::Decrement}, NamedOp{"neg", Op::Negate},      NamedOp{"==", Op::Equal},
    NamedOp{"!=", Op::NotEqual},  NamedOp{"<", Op::Less},          NamedOp{">", Op::Greater},
    NamedOp{"<=", Op::LessEqual}, NamedOp{">=", Op::GreaterEqual}, NamedOp{"and", Op::And},
    NamedOp{"or", Op::Or},        NamedOp{"not", Op::Not},         NamedOp{"d", Op::Duplicate},
    NamedOp{"r", Op::Swap},       NamedOp{"p", Op::Pop},           NamedOp{"c", Op::Clear},
    NamedOp{"quit", Op::Quit},
};

constexpr std::array<std::string_view, 7> kUnits{"number", "numbers", "bool", "boolean", "enum", "seconds", "second"};

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool looks_numeric(std::string_view s) {
    if (s.empty()) return false;
    if (is_digit(s[0]) || s[0] == '.') return true;
    return s[0] == '-' && s.size() > 1 && (is_digit(s[1]) || s[1] == '.');
}

// "s7", "l12", "sp49": the register number, when the word is one of these.
std::optional<int> register_number(std::string_view digits) {
    if (digits.empty() || digits.size() > 2) return std::nullopt;
    if (digits.size() == 2 && digits[0] == '0') return std::nullopt;
    int n = 0;
    for (char c : digits) {
        if (!is_digit(c)) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n >= kRegisterCount) return std::nullopt;
    return n;
}

Instruction reference(const Word& word) {
    // Strip the parentheses; the splitter guarantees both are there.
    std::string_view body = trim(std::string_view(word.text).substr(1, word.text.size() - 2));
    const bool write = !body.empty() && body.front() == '>';
    if (write) body = trim(body.substr(1));

    std::string_view name = body;
    if (const size_t comma = body.find(','); comma != std::string_view::npos) {
        name = trim(body.substr(0, comma));
        const std::string unit = platform::lowercase(trim(body.substr(comma + 1)));
        if (unit.empty()) refuse(word.text, word.position, "missing unit after the comma in");
        if (std::find(kUnits.begin(), kUnits.end(), unit) == kUnits.end())
            refuse(word.text, word.position, "unknown unit '" + unit + "' in");
    }
    if (name.size() < 3 || name[1] != ':' || trim(name.substr(2)).empty())
        refuse(word.text, word.position, "malformed variable reference");
    const std::string_view variable = trim(name.substr(2));
    switch (name[0]) {
        case 'L':
            return Instruction{
                .op = write ? Op::WriteLocal : Op::ReadLocal, .word = &word, .name = "L:" + std::string(variable)};
        case 'P':
            if (variable != "Absolute Time") refuse(word.text, word.position, "unknown program variable");
            if (write) refuse(word.text, word.position, "read-only variable written");
            return Instruction{.op = Op::ReadAbsoluteTime, .word = &word};
        default: refuse(word.text, word.position, "unknown variable kind");
    }
}

Instruction plain_word(const Word& word) {
    const std::string_view text = word.text;
    for (const NamedOp& named : kOperators) {
        if (named.word == text) return Instruction{.op = named.op, .word = &word};
    }
    if (looks_numeric(text)) {
        double value = 0.0;
        const char* const end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, value);
        if (ec == std::errc::result_out_of_range) refuse(word.text, word.position, "number out of range");
        if (ec != std::errc() || ptr != end) refuse(word.text, word.position, "malformed number");
        return Instruction{.op = Op::Push, .word = &word, .number = value};
    }
    struct RegisterWord {
        std::string_view prefix;
        Op op;
    };
    // "sp" before "s": the longer prefix first.
    for (const RegisterWord& form :
         {RegisterWord{"sp", Op::StorePop}, RegisterWord{"s", Op::Store}, RegisterWord{"l", Op::Load}}) {
        if (text.substr(0, form.prefix.size()) != form.prefix) continue;
        if (const auto n = register_number(text.substr(form.prefix.size())))
            return Instruction{.op = form.op, .word = &word, .reg = *n};
    }
    refuse(word.text, word.position, "unknown word");
}

// An open "if{" or "els{" while compiling.
struct OpenBlock {
    bool is_else;
    size_t instruction;  // the BranchIfFalse of an if, the Jump before an else
    const Word* opener;
};

// One pass over the words, long for its cases: the braces' branches and the
// stack of open blocks they share would be split across functions otherwise.
std::vector<Instruction> compile(const std::vector<Word>& words) {
    std::vector<Instruction> code;
    std::vector<OpenBlock> open;
    for (size_t i = 0; i < words.size(); ++i) {
        const Word& word = words[i];
        if (word.text == "if{") {
            open.push_back({false, code.size(), &word});
            code.push_back({.op = Op::BranchIfFalse, .word = &word});
        } else if (word.text == "els{") {
            refuse(word.text, word.position, "unbalanced braces: no 'if{ ... }' before");
        } else if (word.text == "}") {
            if (open.empty()) refuse(word.text, word.position, "unbalanced braces: nothing open for");
            const OpenBlock block = open.back();
            open.pop_back();
            if (!block.is_else && i + 1 < words.size() && words[i + 1].text == "els{") {
                // The true branch jumps over the else block; the false branch
                // lands at its first instruction.
                open.push_back({true, code.size(), &words[i + 1]});
                code.push_back({.op = Op::Jump, .word = &word});
                code[block.instruction].target = code.size();
                ++i;
            } else {
                code[block.instruction].target = code.size();
            }
        } else if (word.text.front() == '(') {
            code.push_back(reference(word));
        } else {
            code.push_back(plain_word(word));
        }
    }
    if (!open.empty())
        refuse(open.back().opener->text, open.back().opener->position, "unbalanced braces: no '}' closes");
    return code;
}

// --- Running -----------------------------------------------------------------

bool truth(double v) { return v != 0.0 && !std::isnan(v); }

class Machine {
public:
    Machine(const VariableStore& vars, double absolute_time) : vars_(vars), absolute_time_(absolute_time) {}

    void run(const std::vector<Instruction>& code) {
        size_t pc = 0;
        while (pc < code.size()) {
            const Instruction& in = code[pc++];
            switch (in.op) {
                case Op::Push: push(in.number); break;
                case Op::ReadLocal: push(read_local(in.name)); break;
                case Op::ReadAbsoluteTime: push(absolute_time_); break;
                case Op::WriteLocal: writes_[in.name] = pop(in); break;
                case Op::Add: binary(in, [](double a, double b) { return a + b; }); break;
                case Op::Subtract: binary(in, [](double a, double b) { return a - b; }); break;
                case Op::Multiply: binary(in, [](double a, double b) { return a * b; }); break;
                case Op::Divide:
                case Op::Modulo: {
                    need(in, 2);
                    const double b = stack_.back();
                    if (b == 0.0) refuse(in.word->text, in.word->position, "division by zero in");
                    binary(in, [op = in.op](double a, double d) { return op == Op::Divide ? a / d : std::fmod(a, d); });
                    break;
                }
                case Op::Increment: unary(in, [](double a) { return a + 1.0; }); break;
                case Op::Decrement: unary(in, [](double a) { return a - 1.0; }); break;
                case Op::Negate: unary(in, [](double a) { return -a; }); break;
                case Op::Equal: compare(in, [](double a, double b) { return a == b; }); break;
                case Op::NotEqual: compare(in, [](double a, double b) { return a != b; }); break;
                case Op::Less: compare(in, [](double a, double b) { return a < b; }); break;
                case Op::Greater: compare(in, [](double a, double b) { return a > b; }); break;
                case Op::LessEqual: compare(in, [](double a, double b) { return a <= b; }); break;
                case Op::GreaterEqual: compare(in, [](double a, double b) { return a >= b; }); break;
                case Op::And: compare(in, [](double a, double b) { return truth(a) && truth(b); }); break;
                case Op::Or: compare(in, [](double a, double b) { return truth(a) || truth(b); }); break;
                case Op::Not: unary(in, [](double a) { return truth(a) ? 0.0 : 1.0; }); break;
                case Op::Duplicate:
                    need(in, 1);
                    push(stack_.back());
                    break;
                case Op::Swap:
                    need(in, 2);
                    std::swap(stack_[stack_.size() - 1], stack_[stack_.size() - 2]);
                    break;
                case Op::Pop: pop(in); break;
                case Op::Clear: stack_.clear(); break;
                case Op::Store:
                    need(in, 1);
                    registers_[in.reg] = stack_.back();
                    break;
                case Op::Load: push(registers_[in.reg]); break;
                case Op::StorePop: registers_[in.reg] = pop(in); break;
                case Op::BranchIfFalse:
                    if (!truth(pop(in))) pc = in.target;
                    break;
                case Op::Jump: pc = in.target; break;
                case Op::Quit: return;
            }
        }
    }

    const std::vector<double>& stack() const { return stack_; }
    const std::map<std::string, double>& writes() const { return writes_; }

private:
    void push(double v) { stack_.push_back(v); }

    void need(const Instruction& in, size_t count) const {
        if (stack_.size() >= count) return;
        refuse(in.word->text, in.word->position,
               "stack underflow (needs " + std::to_string(count) + ", holds " + std::to_string(stack_.size()) + ") in");
    }

    double pop(const Instruction& in) {
        need(in, 1);
        const double v = stack_.back();
        stack_.pop_back();
        return v;
    }

    template <typename F>
    void unary(const Instruction& in, F f) {
        need(in, 1);
        stack_.back() = f(stack_.back());
    }

    template <typename F>
    void binary(const Instruction& in, F f) {
        need(in, 2);
        const double b = pop(in);
        stack_.back() = f(stack_.back(), b);
    }

    template <typename F>
    void compare(const Instruction& in, F f) {
        binary(in, [&f](double a, double b) { return f(a, b) ? 1.0 : 0.0; });
    }

    double read_local(const std::string& name) const {
        const auto it = writes_.find(name);
        return it != writes_.end() ? it->second : vars_.get(name);
    }

    const VariableStore& vars_;
    double absolute_time_;
    std::vector<double> stack_;
    std::array<double, kRegisterCount> registers_{};
    std::map<std::string, double> writes_;
};

}  // namespace

CalculatorError::CalculatorError(std::string word, size_t position, const std::string& message)
    : std::runtime_error(message), word_(std::move(word)), position_(position) {}

std::vector<double> Calculator::run(std::string_view program) const {
    const std::vector<Word> words = split_words(program);
    const std::vector<Instruction> code = compile(words);
    Machine machine(vars_, absolute_time_);
    machine.run(code);
    // Only a program that ran to its end (or to quit) changes variables.
    for (const auto& [name, value] : machine.writes()) vars_.set(name, value);
    return machine.stack();
}

}  // namespace runtime
