// The main window: the control bar, the notebook of pages built from the
// table of pages, the CPU state panel and the bottom row; start-up, the
// wiring of the link's, run control's and the pages' events, and the ways of
// ending VUM.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>

#include "shell/menus.hpp"

// Start-up up to (not including) the main loop: the link offline, the
// toolkit, the resource files, the whole main window with its menu bar and
// every control offline, then the window as it was left last time (see
// window_memory.hpp) and the symbol file of the command line. What the
// command line gave (command_line()) is read here.
void start_up(int *argc, char ***argv);

// The title: "VUM -- " and what is being debugged (debugged_target()).
std::string main_window_title();

// A symbol file to load (from the command line or File > Load Symbols...).
void load_symbols(const char *path);

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
  MenuBar menus;
  GtkWidget *keys_window;      // Help > Keys, while it is open
  GtkWidget *about_box;        // Help > About, likewise
  GtkWidget *symbols_chooser;  // File > Load Symbols..., likewise
  std::string symbols_file;    // the last symbol file handed to the loader
  int width, height;           // the window's size, as last configured
};
MainWindow &main_window();
