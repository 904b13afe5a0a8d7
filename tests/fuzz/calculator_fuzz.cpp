// Calculator programs, compiled and run on a fresh variable store. A refused
// program changes no variable (the calculator's all-or-nothing promise), and
// its error points into the program text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "runtime/calculator.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

// Bitwise, so that a NaN written over a NaN still counts as unchanged only
// when its bits are the same.
template <typename Key>
bool same(const std::map<Key, double>& a, const std::map<Key, double>& b) {
    if (a.size() != b.size()) return false;
    for (auto i = a.begin(), j = b.begin(); i != a.end(); ++i, ++j) {
        if (i->first != j->first || std::memcmp(&i->second, &j->second, sizeof(double)) != 0) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view program(reinterpret_cast<const char*>(data), size);
    runtime::VariableStore vars;
    vars.set("L:Bombs_dropped", 3.0);
    vars.set("L:Repeat", -0.0);
    vars.set(61, 250.0);
    const auto names = vars.names();
    const auto tokens = vars.tokens();
    try {
        (void)runtime::Calculator(vars, 12.5).run(program);
    } catch (const runtime::CalculatorError& error) {
        FUZZ_CHECK(same(vars.names(), names) && same(vars.tokens(), tokens), "a refused program changes nothing");
        FUZZ_CHECK(error.position() < size, "the error points into the program");
        FUZZ_CHECK(!error.word().empty(), "the error quotes a word");
        return 0;
    }
    FUZZ_CHECK(same(vars.tokens(), tokens), "programs write named variables only");
    return 0;
}
