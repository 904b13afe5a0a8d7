// Where the tests find the built modules. The test command sets the
// directories: in the bench host's tree both are the PE tree, whose files the
// host runs in its emulator; in the twin's tree the modules are the twins.
#pragma once

#include <string>

namespace test_paths {

// A module as this tree's tests load it (the PE, or the twin in the twin's tree).
std::string module(const std::string& file_name);

// The PE build of a module (for checks that read the real PE file, and for
// the twin's bitmaps); empty when the PE build is not known.
std::string pe(const std::string& file_name);

// A file of the checkout (a module's source, a fixture's panel), by its path
// from the checkout's top; empty when the checkout is not known.
std::string source(const std::string& path);

}  // namespace test_paths
