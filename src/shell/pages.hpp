// The table of pages: every page of the notebook (and the CPU state panel)
// with its builder and its reactions. Adding a page is one file and one row.
#pragma once

#include <gtk/gtk.h>

#include <cstddef>

#include "exec/run_control.hpp"

// A menu item a page adds to the menu bar, as the shell's own items do for
// the control bar: activating it clicks the page's button, and it is
// sensitive exactly when that button is. The pages' items of a menu follow
// the shell's own (in File, before Quit). Run > "RunToHere" is shown, greyed
// out, until a page gives an item of that name, which takes its place.
struct PageMenuItem {
  const char *menu;         // "File", "Run", "View" or "Help"; NULL ends a list
  const char *name;         // the action's name, unique in the window
  const char *label;        // with its mnemonic
  const char *accelerator;  // as gtk_accelerator_parse reads it; NULL: no key
  GtkWidget *(*button)();   // the page's button, once the page is built
};

struct PageRow {
  const char *title = NULL;                   // the notebook tab; none for the CPU state panel
  bool scrolled = false;                      // the page scrolls as a whole
  void (*build)(GtkWidget *box) = NULL;
  void (*after_build)() = NULL;               // once every page is built and the link is offline
  void (*set_sensitive)(bool on) = NULL;      // on while the debugger waits at its prompt
  void (*starting)() = NULL;                  // a new debugger starts
  void (*stopped)(const Stop &stop) = NULL;   // after every stop, in table order
  void (*hit)(const Stop &stop) = NULL;       // a breakpoint or watchpoint stopped the target
  void (*reload)() = NULL;                    // a new debugger has taken its first step
  int refresh_rank = 0;                       // Refresh All Windows, lowest rank first; 0: nothing
  void (*refresh_windows)() = NULL;
  void (*quit)() = NULL;                      // VUM ends: what waits is written
  const PageMenuItem *menu_items = nullptr;   // the page's menu items, ended by one without a menu
};

extern const PageRow page_table[];
extern const int page_count;
