// The Preferences page: the settings, their defaults, the configuration file
// read at start-up, and the controls that change them. The settings are one
// record (text/settings); this page sets and shows them, and tells the
// pages that follow a setting through its events.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

#include "kit/widget_kit.hpp"
#include "text/settings.hpp"

// What the page reports; the shell connects them. Every member may be left empty.
struct PreferencesEvents {
  void (*history_length_changed)();
  void (*stack_counts_changed)();
  void (*clear_history)();
  void (*message)(const char *text);  // for the history (what the configuration file said)
};
extern PreferencesEvents preferences_events;

void build_preferences_page(GtkWidget *page);
// Every page is built: what the configuration file said goes to the history.
void preferences_after_build();
void set_preferences_sensitive(bool on);

// The notebook positions of the page tabs, by the index of the tabs group.
extern const GtkPositionType tab_positions[4];

// The page's widgets: one record (the test seam).
struct PreferencesPage {
  GtkWidget *history_length_entry;
  GtkWidget *stack_above_entry;
  GtkWidget *stack_below_entry;
  GtkWidget *step_lock_time_entry;
  GtkWidget *next_lock_time_entry;
  GtkWidget *clear_history_button;
  GtkWidget *trace_button;  // "Enable instruction tracing"
  GtkWidget *reload_breakpoints_button;
  GtkWidget *reload_watchpoints_button;
  ButtonGroup *tabs_group;
  GtkWidget *message;  // why a number typed into an entry was refused
};
PreferencesPage &preferences_page();
