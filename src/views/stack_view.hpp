// The stack around ESP, in the CPU state panel.
#pragma once

#include <cstdint>

// How many stack values are shown above and below ESP; settings of the
// Preferences page.
extern uint32_t stack_above;
extern uint32_t stack_below;

void refresh_stack();
