// The main window, its notebook pages and bottom row, start-up and the ways
// of ending VUM.
#pragma once

#include <gtk/gtk.h>
#include <cstdint>

#include "kit/widget_kit.hpp"

extern GtkWidget *main_window;
extern GtkWidget *main_box;
extern GtkWidget *notebook;
extern GtkWidget *state_panel;
extern GtkWidget *start_button;
extern uint32_t start_button_handler;
extern GtkWidget *refresh_all_button;
extern GtkWidget *show_state_button;

extern const char *const vum_home_page;  // shown in the main window's title

// Start-up up to (not including) the main loop: the link offline, the
// toolkit, the resource files, the whole main window, every control offline.
void start_up(int *argc, char ***argv);

// The GTK resource files read at start-up, in order; returns how many (1 or 3).
int resource_file_paths(char paths[3][200]);

GtkWidget *add_scrolled_page(const char *title);
GtkWidget *add_plain_page(const char *title);

void main_window_destroyed(GtkWidget *widget, gpointer data);
void quit_clicked(GtkWidget *widget, gpointer data);
void quit_program(const char *message);
void refresh_all_windows(GtkWidget *widget = NULL, gpointer data = NULL);

// Handler of the start button's "clicked": starts or stops the debugger by
// the link's state (not the button's) and labels the button.
void start_clicked(GtkWidget *button, gpointer data);

// The one sensitivity fan-out: every debugger-dependent control follows the
// link (online or offline) and the target (running or stopped).
void set_debugger_controls_sensitive(bool on);

// Leaves the main loop; outside one (tests drive the window without it) the
// request is recorded in main_loop_left.
void leave_main_loop();
extern int main_loop_left;
