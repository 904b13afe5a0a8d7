// The host calls every module routine, and every host service, with the
// callee-cleans convention of 32-bit Windows. g++ -m32 honours the same
// attribute, so the Linux twin keeps the deliverable's convention.
#pragma once

// A calling convention is an attribute, not a type: this is the one macro.
#define GAUGE_CALL __attribute__((stdcall))
