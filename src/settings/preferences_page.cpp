#include "settings/preferences_page.hpp"

uint32_t history_length = 50;
uint32_t stack_above = 8;
uint32_t stack_below = 4;
uint32_t step_lock_time = 2;
uint32_t next_lock_time = 2;
int tracing = 0;
uint32_t reload_breakpoints = 1;
uint32_t reload_watchpoints = 1;

GtkWidget *trace_button = NULL;
ButtonGroup *tabs_group = NULL;

// The Preferences page is not built yet; the settings keep their defaults.
void build_preferences_page(GtkWidget *) {}
