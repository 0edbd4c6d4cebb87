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

extern GtkWidget *history_length_entry;
extern GtkWidget *stack_above_entry;
extern GtkWidget *stack_below_entry;
extern GtkWidget *step_lock_time_entry;
extern GtkWidget *next_lock_time_entry;
extern GtkWidget *clear_history_button;
extern GtkWidget *trace_button;  // "Enable instruction tracing"
extern GtkWidget *reload_breakpoints_button;
extern GtkWidget *reload_watchpoints_button;
extern ButtonGroup *tabs_group;

// The notebook positions of the page tabs, by the index of tabs_group.
extern const GtkPositionType tab_positions[4];

// The largest values the history length and stack count entries can show
// (5 and 4 characters); the configuration file is held to them.
const uint32_t largest_history_length = 99999;
const uint32_t largest_stack_count = 9999;

void build_preferences_page(GtkWidget *page);

// "activate" of the five entries: the entry's number becomes the setting,
// the setting's follow-up runs, and the entry shows the stored value. A
// negative number is refused: the setting keeps its value and the entry
// shows it again.
void apply_history_length(GtkWidget *entry, gpointer data = NULL);
void apply_stack_above(GtkWidget *entry, gpointer data = NULL);
void apply_stack_below(GtkWidget *entry, gpointer data = NULL);
void apply_step_lock_time(GtkWidget *entry, gpointer data = NULL);
void apply_next_lock_time(GtkWidget *entry, gpointer data = NULL);

void toggle_reload_breakpoints(GtkWidget *button, gpointer data = NULL);
void toggle_reload_watchpoints(GtkWidget *button, gpointer data = NULL);
void apply_tab_position(ButtonGroup *group);
