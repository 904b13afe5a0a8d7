// A stack of the host's own for host code that must stop halfway and go on
// later, where one start of the engine runs many calls: the host's work
// runs on the fiber and hands each call to the engine's side, which runs it
// and hands back its end. Switching is a few instructions (the callee-saved
// registers, the SSE and x87 control words, the stack pointer): no system
// call, as the C library's swapcontext makes for its signal mask. For the
// machine's own use (emulated_machine.cpp); x86-64 System V only.
#pragma once

#include <cstddef>

namespace emulator {

class HostFiber {
public:
    using Entry = void (*)(void* context);

    // Reserves the stack (committed only where touched) on first use.
    HostFiber() = default;
    ~HostFiber();
    HostFiber(const HostFiber&) = delete;
    HostFiber& operator=(const HostFiber&) = delete;

    // Makes the next resume() run entry(context) from the stack's top; when
    // it returns (it must throw nothing) the fiber ends, back to whoever
    // resumed it last, and is not resumed again before the next start().
    void start(Entry entry, void* context);
    // From the stack that called it onto the fiber; back when the fiber
    // calls suspend() or finish().
    void resume();
    // From the fiber back to the stack that resumed it.
    void suspend();
    bool on_fiber() const { return on_fiber_; }

private:
    static void begin(HostFiber* fiber);
    [[noreturn]] void finish();
    void switch_to(void** save, void* load, bool leaving_for_good);

    static constexpr size_t kStackSize = size_t{8} << 20;  // reserved; sanitizers' frames are large
    unsigned char* stack_ = nullptr;                       // its lowest byte, a guard page below
    Entry entry_ = nullptr;
    void* context_ = nullptr;
    void* fiber_sp_ = nullptr;
    void* caller_sp_ = nullptr;
    bool on_fiber_ = false;
    // The stack the fiber was resumed from, for the address sanitizer.
    const void* caller_bottom_ = nullptr;
    size_t caller_size_ = 0;
    void* fake_stack_ = nullptr;
};

}  // namespace emulator
