#include "emulator/machine/host_fiber.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_FIBER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_FIBER_ASAN 1
#endif
#endif
#ifdef KORVANE_FIBER_ASAN
#include <sanitizer/common_interface_defs.h>
#endif

static_assert(sizeof(void*) == 8, "the fiber's switch is x86-64 System V's");

// korvane_fiber_switch(save, load): the callee-saved registers and the two
// control words onto this stack, its pointer into *save; then the stack at
// `load`, popped the same way. korvane_fiber_begin is where a fresh stack
// "returns" to: it calls HostFiber::begin (r12) with the fiber (r13), which
// never returns; the unwinder stops there.
asm(R"(
    .text
    .p2align 4
    .globl korvane_fiber_switch
    .hidden korvane_fiber_switch
    .type korvane_fiber_switch, @function
korvane_fiber_switch:
    .cfi_startproc
    pushq %rbp
    pushq %rbx
    pushq %r12
    pushq %r13
    pushq %r14
    pushq %r15
    subq $8, %rsp
    stmxcsr (%rsp)
    fnstcw 4(%rsp)
    movq %rsp, (%rdi)
    movq %rsi, %rsp
    ldmxcsr (%rsp)
    fldcw 4(%rsp)
    addq $8, %rsp
    popq %r15
    popq %r14
    popq %r13
    popq %r12
    popq %rbx
    popq %rbp
    ret
    .cfi_endproc
    .size korvane_fiber_switch, .-korvane_fiber_switch

    .p2align 4
    .globl korvane_fiber_begin
    .hidden korvane_fiber_begin
    .type korvane_fiber_begin, @function
korvane_fiber_begin:
    .cfi_startproc
    .cfi_undefined rip
    movq %r13, %rdi
    callq *%r12
    ud2
    .cfi_endproc
    .size korvane_fiber_begin, .-korvane_fiber_begin
)");

extern "C" void korvane_fiber_switch(void** save, void* load);
extern "C" void korvane_fiber_begin();

namespace emulator {
namespace {

size_t page_size() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

HostFiber::~HostFiber() {
    if (stack_ != nullptr) munmap(stack_ - page_size(), kStackSize + page_size());
}

void HostFiber::begin(HostFiber* fiber) {
#ifdef KORVANE_FIBER_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &fiber->caller_bottom_, &fiber->caller_size_);
#endif
    fiber->entry_(fiber->context_);
    fiber->finish();
}

void HostFiber::start(Entry entry, void* context) {
    entry_ = entry;
    context_ = context;
    if (stack_ == nullptr) {
        const size_t guard = page_size();
        void* mapped = mmap(nullptr, kStackSize + guard, PROT_READ | PROT_WRITE,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
        if (mapped == MAP_FAILED) throw std::bad_alloc();
        mprotect(mapped, guard, PROT_NONE);
        stack_ = static_cast<unsigned char*>(mapped) + guard;
    }
    // The frame korvane_fiber_switch pops, topped by korvane_fiber_begin's
    // address, which leaves the stack 16-byte aligned for its call.
    auto* top = reinterpret_cast<uint64_t*>(stack_ + kStackSize);
    uint64_t* frame = top - 10;
    std::memset(frame, 0, 10 * sizeof(uint64_t));
    uint32_t mxcsr = 0;
    uint16_t control = 0;
    asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(mxcsr), "=m"(control));
    std::memcpy(frame, &mxcsr, 4);
    std::memcpy(reinterpret_cast<unsigned char*>(frame) + 4, &control, 2);
    frame[3] = reinterpret_cast<uint64_t>(this);               // r13
    frame[4] = reinterpret_cast<uint64_t>(&HostFiber::begin);  // r12
    frame[7] = reinterpret_cast<uint64_t>(&korvane_fiber_begin);
    fiber_sp_ = frame;
}

void HostFiber::switch_to(void** save, void* load, bool leaving_for_good) {
#ifdef KORVANE_FIBER_ASAN
    const bool entering = !on_fiber_;
    void* fake = nullptr;
    if (entering) {
        __sanitizer_start_switch_fiber(&fake, stack_, kStackSize);
    } else {
        __sanitizer_start_switch_fiber(leaving_for_good ? nullptr : &fake_stack_, caller_bottom_, caller_size_);
    }
    on_fiber_ = entering;
    korvane_fiber_switch(save, load);
    on_fiber_ = !entering;
    // Back on the stack that switched away.
    if (entering) {
        __sanitizer_finish_switch_fiber(fake, nullptr, nullptr);
    } else {
        __sanitizer_finish_switch_fiber(fake_stack_, &caller_bottom_, &caller_size_);
    }
#else
    (void)leaving_for_good;
    const bool entering = !on_fiber_;
    on_fiber_ = entering;
    korvane_fiber_switch(save, load);
    on_fiber_ = !entering;
#endif
}

void HostFiber::resume() { switch_to(&caller_sp_, fiber_sp_, false); }

void HostFiber::suspend() { switch_to(&fiber_sp_, caller_sp_, false); }

void HostFiber::finish() {
    void* unused = nullptr;
    switch_to(&unused, caller_sp_, true);
    __builtin_unreachable();
}

}  // namespace emulator
