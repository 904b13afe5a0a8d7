#include "platform/process_heap.h"

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace platform {
namespace {

// Larger than any buffer of a panel (a few pictures of 1880 x 900 pixels,
// 7 MiB each): all of them from the heap.
constexpr int kLargestFromHeap = 256 << 20;
// What the heap grows by at least, reserved at once so that it lies in
// whole 2 MiB pages; address space only until it is touched.
constexpr int kGrowth = 128 << 20;
constexpr uintptr_t kLargePage = 2u << 20;

}  // namespace

void keep_large_buffers_in_heap() {
    mallopt(M_MMAP_THRESHOLD, kLargestFromHeap);
    mallopt(M_TRIM_THRESHOLD, kLargestFromHeap);
    mallopt(M_TOP_PAD, kGrowth);
    // Grow the heap now by the whole reserve (a block larger than what is
    // free at its top, freed again at once) and advise the grown part.
    const auto before = reinterpret_cast<uintptr_t>(sbrk(0));
    void* volatile block = std::malloc(1 << 20);  // volatile: the pair is not optimised away
    std::free(block);
    const auto after = reinterpret_cast<uintptr_t>(sbrk(0));
    const uintptr_t first = (before + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t end = after & ~(kLargePage - 1);
    // Advice only: a kernel without large pages leaves the heap as it was.
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
}

}  // namespace platform
