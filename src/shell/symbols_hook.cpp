#include "shell/symbols_hook.hpp"

// No loader is connected yet. This empty one is weak, so that a loader
// defined elsewhere in the program takes its place when they are linked.
__attribute__((weak)) void load_symbols_file(const char *) {}
