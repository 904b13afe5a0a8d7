// What the emulator's tests share: the fault a call into module code throws.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "emulator/machine/guest_memory.h"

// The fault `call` throws; fails the test when it returns.
inline emulator::GuestFault fault_of(const std::function<void()>& call) {
    try {
        call();
    } catch (const emulator::GuestFault& fault) {
        return fault;
    }
    ADD_FAILURE() << "the call returned";
    return emulator::GuestFault(emulator::GuestFault::Kind::kOther, 0, 0, "none");
}
