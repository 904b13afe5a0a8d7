// Show and hide elements a given number of steps down a gauge's element chain.
#pragma once

#include <cstdint>

#include "frame/records.h"

namespace kit {

// One step down: the first entry of the element's next-element list; null for
// a null element, one without a list or one whose list is empty.
[[gnu::always_inline]] inline ELEMENT_HEADER* element_chain_next(const ELEMENT_HEADER* element) {
    if (element == nullptr) return nullptr;
    ELEMENT_HEADER* const* next = element->next_element_list;
    return next != nullptr ? next[0] : nullptr;
}

// Walks `depth` steps down the first entries of the next-element lists and ORs
// `bits` into the reached element's image_flags. A chain shorter than the
// depth changes nothing.
void element_chain_set_flags(ELEMENT_HEADER* element, uint32_t depth, uint32_t bits);

// The same walk; clears `bits` in the reached element.
void element_chain_clear_flags(ELEMENT_HEADER* element, uint32_t depth, uint32_t bits);

}  // namespace kit
