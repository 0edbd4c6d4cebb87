// The settings, their defaults and the Preferences page.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "shell/widget_kit.hpp"

extern uint32_t history_length;
extern uint32_t stack_above;
extern uint32_t stack_below;
extern uint32_t step_lock_time;
extern uint32_t next_lock_time;
extern int tracing;
extern uint32_t reload_breakpoints;
extern uint32_t reload_watchpoints;

extern GtkWidget *trace_button;  // "Enable instruction tracing"
extern ButtonGroup *tabs_group;

void build_preferences_page(GtkWidget *page);
