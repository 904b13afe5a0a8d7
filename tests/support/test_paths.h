// Where the tests find the built modules. The test command sets the
// directories; the same test program runs on the Linux twin and under Wine.
#pragma once

#include <string>

namespace test_paths {

// A module built in this tree (the twin on Linux, the PE under Wine).
std::string module(const std::string& file_name);

// The PE build of a module (for checks that read the real PE file, and for
// bitmaps on the Linux twin); empty when the PE build is not known.
std::string pe(const std::string& file_name);

}  // namespace test_paths
