// The stack around ESP, in the CPU state panel.
#pragma once

#include <cstdint>

// How many stack values are shown above and below ESP; settings of the
// Preferences page. A refresh reads at most stack_walk_limit elements on
// either side, whatever these say.
extern uint32_t stack_above;
extern uint32_t stack_below;

void refresh_stack();

// The values read at the previous stop, to mark the ones that changed:
// note_stack_stop at every stop, forget_stack_stops for a new debugger.
void note_stack_stop();
void forget_stack_stops();
