// The main window: the control bar, the notebook of pages built from the
// table of pages, the CPU state panel and the bottom row; start-up, the
// wiring of the link's, run control's and the pages' events, and the ways of
// ending VUM.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

// Start-up up to (not including) the main loop: the link offline, the
// toolkit, the resource files, the whole main window, every control offline.
void start_up(int *argc, char ***argv);

// The GTK resource files read at start-up, in order; returns how many (1 or 3).
int resource_file_paths(char paths[3][200]);

void quit_clicked(GtkWidget *widget = NULL, gpointer data = NULL);
void refresh_all_windows(GtkWidget *widget = NULL, gpointer data = NULL);

// The one sensitivity fan-out: every debugger-dependent control follows the
// link (online or offline) and the target (running or stopped).
void set_debugger_controls_sensitive(bool on);

// Leaves the main loop; outside one (tests drive the window without it) the
// request is recorded in main_loop_left.
void leave_main_loop();

extern const char *const vum_home_page;  // shown in the main window's title

// The shell's own widgets and state: one record (the test seam).
struct MainWindow {
  GtkWidget *window;
  GtkWidget *box;
  GtkWidget *notebook;
  GtkWidget *state_panel;
  GtkWidget *start_button;
  uint32_t start_button_handler;
  GtkWidget *refresh_all_button;
  GtkWidget *show_state_button;
  GtkWidget *quit_button;
  int main_loop_left;
};
MainWindow &main_window();
