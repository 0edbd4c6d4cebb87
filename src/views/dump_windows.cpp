#include "views/dump_windows.hpp"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "link/debugger_child.hpp"
#include "link/debugger_commands.hpp"
#include "link/reply_scan.hpp"
#include "views/dump_scan.hpp"

DumpWindowList dump_windows = {NULL, NULL};

GtkWidget *dump_address_entry = NULL;
GtkWidget *dump_units_entry = NULL;
ButtonGroup *address_space_group = NULL;
ButtonGroup *unit_size_group = NULL;
ButtonGroup *unit_format_group = NULL;
GtkWidget *dump_button = NULL;

static const char size_letters[] = "bhwg";
static const char format_letters[] = "xduto";

void build_memory_page(GtkWidget *page) {
  GtkWidget *row = add_hbox(page, 0);
  add_label(row, 0, "Address (hex)", 0);
  dump_address_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(dump_address_entry), 10);
  static const char *const spaces[2] = {" Physical ", " Linear "};
  address_space_group = add_button_group(row, 0, 0, 2, spaces);

  row = add_hbox(page, 0);
  add_label(row, 0, "Units (dec)", 0);
  dump_units_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(dump_units_entry), 5);
  connect_signal(dump_units_entry, "activate", VUM_SIGNAL_FUNC(open_dump_window), NULL);
  dump_button = add_button(row, 0, " Dump ");
  gtk_widget_set_usize(dump_button, 100, 20);
  connect_signal(dump_button, "clicked", VUM_SIGNAL_FUNC(open_dump_window), NULL);

  row = add_hbox(page, 0);
  add_label(row, 0, "Unit Size", 0);
  static const char *const sizes[4] = {" Byte ", " Word ", " DoubleWord ", " QuadWord "};
  unit_size_group = add_button_group(row, 0, 0, 4, sizes);

  row = add_hbox(page, 0);
  add_label(row, 0, "Unit Format", 0);
  static const char *const formats[5] = {" Hex ", " Decimal ", " Unsigned Decimal ", " Binary ",
                                         " Octal "};
  unit_format_group = add_button_group(row, 0, 0, 5, formats);

  dump_windows.first = dump_windows.last = NULL;
}

static void refresh_clicked(GtkWidget *, DumpWindow *window) { refresh_dump_window(window); }

void open_dump_window(GtkWidget *, gpointer) {
  unsigned int address, units;
  if (sscanf(gtk_entry_get_text(GTK_ENTRY(dump_address_entry)), "%x", &address) != 1) return;
  if (sscanf(gtk_entry_get_text(GTK_ENTRY(dump_units_entry)), "%u", &units) != 1) return;
  DumpWindow *w = static_cast<DumpWindow *>(calloc(1, sizeof(DumpWindow)));
  if (w == NULL) return;
  w->prev = dump_windows.last;
  if (dump_windows.last)
    dump_windows.last->next = w;
  else
    dump_windows.first = w;
  dump_windows.last = w;

  w->address = address;
  w->units = units;
  w->address_space = address_space_group->selected;
  w->unit_size = unit_size_group->selected;
  w->unit_format = unit_format_group->selected;
  gtk_entry_set_text(GTK_ENTRY(dump_address_entry), "");
  gtk_entry_set_text(GTK_ENTRY(dump_units_entry), "");

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
  if (debugger_offline || target_running || !reply_stream.is_open()) return;
  GtkCList *list = GTK_CLIST(w->list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  send_command(w->address_space == 0 ? format_dump_physical : format_dump_linear, w->units,
               size_letters[w->unit_size & 3], format_letters[w->unit_format % 5], w->address);
  // The character after the previous prompt's '>'.
  reply_stream.get();
  std::vector<DumpRow> rows;
  read_dump_reply(reply_stream, &rows, &prompt_number);
  for (const DumpRow &row : rows) {
    const char *cells[4] = {row.base, row.offset, row.values.c_str(), ""};
    gtk_clist_append(list, const_cast<gchar **>(cells));
  }
  gtk_clist_thaw(list);
}

void close_dump_window(GtkWidget *, DumpWindow *w) {
  gtk_signal_disconnect(GTK_OBJECT(w->window), w->destroy_handler);
  gtk_widget_destroy(w->window);
  if (w == dump_windows.first) {
    dump_windows.first = w->next;
    if (w->next)
      w->next->prev = NULL;
    else
      dump_windows.last = NULL;
  } else if (w == dump_windows.last) {
    dump_windows.last = w->prev;
    w->prev->next = NULL;
  } else {
    w->prev->next = w->next;
    w->next->prev = w->prev;
  }
  free(w);
}

void set_memory_sensitive(bool on) {
  if (dump_address_entry == NULL) return;
  gtk_widget_set_sensitive(dump_address_entry, on);
  gtk_widget_set_sensitive(dump_units_entry, on);
  gtk_widget_set_sensitive(dump_button, on);
  for (DumpWindow *w = dump_windows.first; w != NULL; w = w->next)
    gtk_widget_set_sensitive(w->refresh_button, on);
}
