// Unicorn 2.0 sends every guest store through its slow path (its record of
// which pages hold no translated code is stubbed out, so no page ever counts
// as free of code), and there, for each store, builds and frees a tree of
// page locks whose locks do nothing: two or three heap allocations a store,
// some 400 a panel update. Later releases dropped the tree. The library
// calls the two functions through its procedure linkage table, so these
// definitions in the executable take their place (the build exports them):
// a collection that nothing looks into, and locks that do nothing, as the
// library's own page locks do. What the slow path is for, dropping code
// translated from the page written, is untouched.
#include <unicorn/unicorn.h>

#if UC_API_MAJOR == 2 && UC_API_MINOR == 0
extern "C" {

struct page_collection;

// Never dereferenced by the library: only handed back to the unlock below.
static char unused_collection;

__attribute__((visibility("default"))) page_collection* page_collection_lock_x86_64(void*, uint64_t, uint64_t) {
    return reinterpret_cast<page_collection*>(&unused_collection);
}

__attribute__((visibility("default"))) void page_collection_unlock_x86_64(page_collection*) {}

}  // extern "C"
#endif
