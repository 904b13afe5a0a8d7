// Operating-system routines the module calls directly, beside the host's
// service table.
#pragma once

#include "frame/calling_convention.h"

// user32's FindWindowA: the top-level window with this class and title, or
// null. On Windows the import library resolves it (FindWindowA@8); the Linux
// twin takes it from the executable that hosts the module.
extern "C" void* GAUGE_CALL FindWindowA(const char* window_class, const char* title);
