// The Preferences page: the settings, their defaults, the configuration file
// read at start-up, and the controls that change them. Each setting is kept
// by the module that reads it (history_length by the history, the stack
// counts by the stack view, tracing by execution control, the reload
// switches by the point pages); this page sets and shows them.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/widget_kit.hpp"

// Stored and shown here only.
extern uint32_t step_lock_time;
extern uint32_t next_lock_time;

extern GtkWidget *trace_button;  // "Enable instruction tracing"
extern ButtonGroup *tabs_group;

void build_preferences_page(GtkWidget *page);
