// The bench host's listing of a module: every gauge with its element tree,
// mouse areas, and what each element shows after set-up and one update.
#pragma once

#include <cstdio>

#include "host/host.h"
#include "host/module.h"

namespace listing {

void print_module(std::FILE* out, bench::Host& host, const bench::Module& module, double scale);

}  // namespace listing
