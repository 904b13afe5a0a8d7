// --trace-limit's sizes: whole bytes or k, M, G of 1024s, "none", and
// nothing else; a size written back reads as itself.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tools/inspection_options.h"

namespace {

struct SizeCase {
    const char* text;
    std::optional<uint64_t> bytes;
};

const SizeCase kSizeCases[] = {
    {"500k", 500u << 10},
    {"20M", 20u << 20},
    {"20m", 20u << 20},
    {"1G", uint64_t{1} << 30},
    {"4096", 4096},
    {"none", 0},
    {"17179869183G", uint64_t{17179869183} << 30},
    {"17179869184G", std::nullopt},  // beyond 64 bits
    {"18446744073709551616", std::nullopt},
    {"", std::nullopt},
    {"M", std::nullopt},
    {"-1k", std::nullopt},
    {"1.5M", std::nullopt},
    {"20MB", std::nullopt},
    {"20 M", std::nullopt},
    {"1T", std::nullopt},
};

class ByteSize : public testing::TestWithParam<SizeCase> {};

TEST_P(ByteSize, ReadsWholeUnitsOnly) {
    const SizeCase& c = GetParam();
    EXPECT_EQ(gaugebench::parse_byte_size(c.text), c.bytes);
    if (c.bytes) {
        EXPECT_EQ(gaugebench::parse_byte_size(gaugebench::byte_size_text(*c.bytes)), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(TraceLimit, ByteSize, testing::ValuesIn(kSizeCases));

}  // namespace
