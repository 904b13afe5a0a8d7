#include "gaugekit/element_chain.h"

namespace kit {
namespace {

ELEMENT_HEADER* walk(ELEMENT_HEADER* element, uint32_t depth) {
    for (uint32_t step = 0; element != nullptr && step < depth; ++step) element = element_chain_next(element);
    return element;
}

}  // namespace

void element_chain_set_flags(ELEMENT_HEADER* element, uint32_t depth, uint32_t bits) {
    if (ELEMENT_HEADER* reached = walk(element, depth)) reached->image_flags |= bits;
}

void element_chain_clear_flags(ELEMENT_HEADER* element, uint32_t depth, uint32_t bits) {
    if (ELEMENT_HEADER* reached = walk(element, depth)) reached->image_flags &= ~bits;
}

}  // namespace kit
