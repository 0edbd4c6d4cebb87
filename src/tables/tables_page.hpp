// The Tables page: the GDT, the IDT (the interrupt vector table in real
// mode), the LDT and the TSS, decoded from memory read through the
// debugger at the addresses the registers give, and the walk of a typed
// linear address through the page tables. While the page is shown it reads
// its table again after every stop and marks the rows that changed since
// the table was read at an earlier stop.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <string>
#include <vector>

#include "exec/run_control.hpp"
#include "kit/list_sizer.hpp"
#include "kit/widget_kit.hpp"
#include "tables/long_read.hpp"
#include "text/cpu_scan.hpp"
#include "text/page_walk.hpp"

void build_tables_page(GtkWidget *box);
void set_tables_sensitive(bool on);
void tables_starting();
void tables_stopped(const Stop &stop);
// VUM ends: a long read that runs is ended.
void tables_quit();

// Reads the registers and the table shown again, and walks the last
// address again (" Refresh ").
void refresh_tables();

// Translates the address in the entry (" Translate ").
void translate_linear_address();

enum TableShown { table_gdt, table_idt, table_ldt, table_tss, tables_shown };

// One table as last read.
struct TableView {
  uint32_t read_at;               // the stop it was read at (stops counted from 1); 0 never
  bool have;                      // bytes holds a whole read
  uint32_t address;               // where it was read (linear)
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> before;    // as read at an earlier stop
  bool have_before;
  std::vector<bool> marked;       // its rows that changed since then
  std::string summary;
};

// The page's state: one record (the test seam).
struct TablesPage {
  GtkWidget *box;
  ButtonGroup *table_group;       // GDT, IDT, LDT, TSS
  GtkWidget *refresh_button;
  GtkWidget *summary;             // what the list shows, and why nothing when so
  GtkWidget *list[tables_shown];  // one each; the one of table_group is shown
  ListSizer sizer[tables_shown];
  ProgressRow progress;
  GtkWidget *linear_entry;
  GtkWidget *translate_button;
  GtkWidget *walk_list;           // one row per step of the walk
  GtkWidget *walk_note;           // its outcome, or why the typed text was refused
  CpuState cpu;                   // the registers at the last stop
  bool have_cpu;
  uint32_t stops;                 // of this debugger
  uint32_t cancelled_at;          // the stop at which a read was cancelled
  TableView view[tables_shown];
  bool walked;                    // an address was translated: walked again at each stop
  uint32_t walk_linear;
  PageWalk walk;
  guint refresh_source;           // the idle call that reads after a stop
};
TablesPage &tables_page();

// True when the list's row is drawn in the colour of what changed.
bool tables_row_marked(GtkWidget *list, int row);
