// Reads no simulator variable. Services: register_key_event_handler (init),
// unregister_key_event_handler (deinit), execute_calculator_code (on the two
// watched key events, sim::event::kReleaseSequenceStart and kBombReleased).
// The programs read L:Vq17_Nbr_Sum, L:Vq17_Interv_Sum and P:Absolute Time and
// write L:Bombs_dropped, L:Repeat and L:Elapsed.
#include "dropwatch/bomb_counter.h"

#include "frame/vocabulary.h"
#include "gaugekit/services.h"

namespace dropwatch {
namespace {

// Handed to the host by address: constants of the module, nothing is built
// per event.
constexpr char kSequenceStartProgram[] =
    "0 (>L:Bombs_dropped) (L:Vq17_Nbr_Sum, number) (>L:Repeat) (P:Absolute Time, seconds) "
    "(L:Vq17_Interv_Sum, seconds) - (>L:Elapsed,seconds)";
constexpr char kBombReleasedProgram[] = "(L:Bombs_dropped) ++ (>L:Bombs_dropped)";

struct EventProgram {
    uint32_t event_id;
    const char* program;
};

constexpr EventProgram kEventPrograms[] = {
    {sim::event::kReleaseSequenceStart, kSequenceStartProgram},
    {sim::event::kBombReleased, kBombReleasedProgram},
};

}  // namespace

void GAUGE_CALL register_key_events() { kit::register_key_event_handler(on_key_event, kKeyEventUserData); }

void GAUGE_CALL unregister_key_events() { kit::unregister_key_event_handler(on_key_event, kKeyEventUserData); }

// Only the event id matters: the value and the user data are ignored, and
// every other event returns at once.
void on_key_event(uint32_t event_id, uint32_t, uint32_t) {
    for (const EventProgram& entry : kEventPrograms) {
        if (entry.event_id == event_id) {
            kit::execute_calculator_code(entry.program);
            return;
        }
    }
}

}  // namespace dropwatch
