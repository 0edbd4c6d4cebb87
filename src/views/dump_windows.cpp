#include "views/dump_windows.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/dump_scan.hpp"
#include "text/reply_scan.hpp"

static MemoryPage M = {};

MemoryPage &memory_page() { return M; }

static void open_dump_window(GtkWidget *, gpointer);

// The text of a dump reply kept at most: far more than the largest dump the
// Units entry allows.
static const size_t dump_reply_limit = 64 << 20;

static const char size_letters[] = "bhwg";
static const char format_letters[] = "xduto";

void build_memory_page(GtkWidget *page) {
  GtkWidget *row = add_hbox(page, 0);
  add_label(row, 0, "Address (hex)", 0);
  M.address_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(M.address_entry), 10);
  static const char *const spaces[2] = {" Physical ", " Linear "};
  M.address_space_group = add_button_group(row, 0, 0, 2, spaces);

  row = add_hbox(page, 0);
  add_label(row, 0, "Units (dec)", 0);
  M.units_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(M.units_entry), 5);
  connect_signal(M.units_entry, "activate", VUM_SIGNAL_FUNC(open_dump_window), NULL);
  M.dump_button = add_button(row, 0, " Dump ");
  gtk_widget_set_usize(M.dump_button, 100, 20);
  connect_signal(M.dump_button, "clicked", VUM_SIGNAL_FUNC(open_dump_window), NULL);

  row = add_hbox(page, 0);
  add_label(row, 0, "Unit Size", 0);
  static const char *const sizes[4] = {" Byte ", " Word ", " DoubleWord ", " QuadWord "};
  M.unit_size_group = add_button_group(row, 0, 0, 4, sizes);

  row = add_hbox(page, 0);
  add_label(row, 0, "Unit Format", 0);
  static const char *const formats[5] = {" Hex ", " Decimal ", " Unsigned Decimal ", " Binary ",
                                         " Octal "};
  M.unit_format_group = add_button_group(row, 0, 0, 5, formats);

  M.windows.first = M.windows.last = NULL;
}

static void refresh_clicked(GtkWidget *, DumpWindow *window) { refresh_dump_window(window); }

static void open_dump_window(GtkWidget *, gpointer) {
  unsigned int address, units;
  if (sscanf(gtk_entry_get_text(GTK_ENTRY(M.address_entry)), "%x", &address) != 1) return;
  if (sscanf(gtk_entry_get_text(GTK_ENTRY(M.units_entry)), "%u", &units) != 1) return;
  DumpWindow *w = new DumpWindow();
  w->prev = M.windows.last;
  if (M.windows.last)
    M.windows.last->next = w;
  else
    M.windows.first = w;
  M.windows.last = w;

  w->address = address;
  w->units = units;
  w->address_space = M.address_space_group->selected;
  w->unit_size = M.unit_size_group->selected;
  w->unit_format = M.unit_format_group->selected;
  gtk_entry_set_text(GTK_ENTRY(M.address_entry), "");
  gtk_entry_set_text(GTK_ENTRY(M.units_entry), "");

  char title[64];
  snprintf(title, sizeof title, "VUM - Memory Dump - %.8X %s", w->address,
           w->address_space == 0 ? "physical" : "linear");
  w->window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 550, 300);
  w->destroy_handler = connect_signal(w->window, "destroy", VUM_SIGNAL_FUNC(close_dump_window), w);
  GtkWidget *box = add_window_box(w->window);
  static const char *const titles[4] = {"Base", "Offset", "Values", "Characters"};
  int columns = w->unit_size == 0 ? 4 : 3;
  w->list = add_list(box, columns, titles);
  GtkCList *list = GTK_CLIST(w->list);
  static const GtkJustification justify[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_RIGHT,
                                              GTK_JUSTIFY_LEFT, GTK_JUSTIFY_LEFT};
  for (int c = 0; c < columns; c++) gtk_clist_set_column_justification(list, c, justify[c]);
  gtk_clist_column_titles_show(list);
  w->sizer.attach(w->list, ListSizer::Measure::by_character);
  GtkWidget *buttons = add_hbox(box, 0);
  add_filler(buttons);
  w->refresh_button = add_button(buttons, 1, " Refresh ");
  connect_signal(w->refresh_button, "clicked", VUM_SIGNAL_FUNC(refresh_clicked), w);
  w->close_button = add_button(buttons, 0, " Close ");
  connect_signal(w->close_button, "clicked", VUM_SIGNAL_FUNC(close_dump_window), w);
  refresh_dump_window(w);
}

void refresh_dump_window(DumpWindow *w) {
  // Nothing is sent while the target runs: its stop report is awaited.
  if (!debugger_waits()) return;
  static std::string reply;
  exchange_long(&reply, dump_reply_limit, w->address_space == 0 ? format_dump_physical : format_dump_linear,
                w->units, size_letters[w->unit_size & 3], format_letters[w->unit_format % 5], w->address);
  std::vector<DumpRow> rows;
  scan_dump_reply(reply, &rows);
  GtkCList *list = GTK_CLIST(w->list);
  gtk_clist_freeze(list);
  w->sizer.begin(rows.size());
  for (const DumpRow &row : rows) {
    const char *cells[4] = {row.base, row.offset, row.values.c_str(), ""};
    w->sizer.add(cells);
  }
  w->sizer.finish();
  gtk_clist_thaw(list);
}

void refresh_dump_windows() {
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next) refresh_dump_window(w);
}

void close_dump_window(GtkWidget *, DumpWindow *w) {
  gtk_signal_disconnect(GTK_OBJECT(w->window), w->destroy_handler);
  gtk_widget_destroy(w->window);
  if (w == M.windows.first) {
    M.windows.first = w->next;
    if (w->next)
      w->next->prev = NULL;
    else
      M.windows.last = NULL;
  } else if (w == M.windows.last) {
    M.windows.last = w->prev;
    w->prev->next = NULL;
  } else {
    w->prev->next = w->next;
    w->next->prev = w->prev;
  }
  delete w;
}

void set_memory_sensitive(bool on) {
  if (M.address_entry == NULL) return;
  gtk_widget_set_sensitive(M.address_entry, on);
  gtk_widget_set_sensitive(M.units_entry, on);
  gtk_widget_set_sensitive(M.dump_button, on);
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next)
    gtk_widget_set_sensitive(w->refresh_button, on);
}
