#include "views/stack_view.hpp"

uint32_t stack_above = 8;
uint32_t stack_below = 4;

// The stack view is not built yet.
void refresh_stack() {}
