#include "views/stack_view.hpp"

// The stack view is not built yet.
void refresh_stack() {}
