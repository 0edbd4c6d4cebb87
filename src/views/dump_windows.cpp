#include "views/dump_windows.hpp"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kit/long_work.hpp"
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

// What set_memory_sensitive last said: a window's Refresh follows it, except
// while the window is read.
static bool memory_sensitive = false;

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
  // Seven digits: 1 MiB of bytes is 1048576 units.
  gtk_entry_set_max_length(GTK_ENTRY(M.units_entry), 7);
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
  w->address_space = M.address_space_group->selected;
  w->unit_size = M.unit_size_group->selected;
  w->units = MIN(units, largest_dump_bytes >> (w->unit_size & 3));
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
  w->progress_box = add_hbox(buttons, 1);
  w->refresh_button = add_button(buttons, 1, " Refresh ");
  connect_signal(w->refresh_button, "clicked", VUM_SIGNAL_FUNC(refresh_clicked), w);
  w->close_button = add_button(buttons, 0, " Close ");
  connect_signal(w->close_button, "clicked", VUM_SIGNAL_FUNC(close_dump_window), w);
  refresh_dump_window(w);
}

// ---------------------------------------------------------------------------
// Reading a window: one command per dump_command_bytes of memory, each reply
// scanned and its rows added before the next is asked for.

namespace {

// The label of a line of a later command ("+8") counted from the start of
// the window's dump; any other label stays as it is.
void shift_offset(char offset[17], uint32_t by) {
  if (by == 0 || offset[0] != '+' || offset[1] == '\0') return;
  uint64_t n = 0;
  for (const char *p = offset + 1; *p; p++) {
    if (*p < '0' || *p > '9' || n > 0xffffffffu) return;
    n = n * 10 + (uint64_t)(*p - '0');
  }
  snprintf(offset, 17, "+%llu", (unsigned long long)(n + by));
}

}  // namespace

class DumpRead : public LongWork {
 public:
  explicit DumpRead(DumpWindow *w) : w_(w) {
    progress_box = w->progress_box;
    unit_bytes_ = 1u << (w->unit_size & 3);
    per_command_ = dump_command_bytes / unit_bytes_;
  }

  bool step() override {
    if (w_ == NULL || !debugger_waits()) return false;
    uint32_t count = MIN(per_command_, w_->units - done_);
    uint32_t from = done_ * unit_bytes_;
    static std::string reply;
    exchange_long(&reply, dump_reply_limit, w_->address_space == 0 ? format_dump_physical : format_dump_linear,
                  count, size_letters[w_->unit_size & 3], format_letters[w_->unit_format % 5], w_->address + from);
    rows_.clear();
    scan_dump_reply(reply, &rows_);
    done_ += count;
    // A line that gives no address (an error in place of the values) ends
    // the dump: what follows would not be read either.
    bool ended = done_ >= w_->units || !debugger_waits();
    for (const DumpRow &row : rows_)
      if (row.base[0] == '\0') ended = true;
    GtkCList *list = GTK_CLIST(w_->list);
    gtk_clist_freeze(list);
    if (!begun_) {
      begun_ = true;
      uint64_t units_per_line = 8 >> (w_->unit_size >= 2 ? w_->unit_size - 1 : 0);
      w_->sizer.begin((w_->units + units_per_line - 1) / units_per_line);
    }
    for (DumpRow &row : rows_) {
      shift_offset(row.offset, from);
      const char *cells[4] = {row.base, row.offset, row.values.c_str(), ""};
      w_->sizer.add(cells);
    }
    if (ended)
      finish_rows();
    else
      w_->sizer.show_widths();
    gtk_clist_thaw(list);
    return !ended;
  }

  double fraction() const override { return w_ == NULL || w_->units == 0 ? 1 : (double)done_ / w_->units; }

  void end(bool) override {
    if (w_ == NULL) return;
    // Cancelled: the rows read so far stay, those of the read before go.
    if (!finished_rows_) {
      GtkCList *list = GTK_CLIST(w_->list);
      gtk_clist_freeze(list);
      if (!begun_) w_->sizer.begin(0);
      finish_rows();
      gtk_clist_thaw(list);
    }
    w_->reading = NULL;
    gtk_widget_set_sensitive(w_->refresh_button, memory_sensitive);
  }

  // The window is going: the read ends without touching it.
  void forget_window() { w_ = NULL; }

 private:
  void finish_rows() {
    w_->sizer.finish();
    finished_rows_ = true;
  }

  DumpWindow *w_;
  uint32_t unit_bytes_, per_command_;
  uint32_t done_ = 0;  // units asked for so far
  bool begun_ = false, finished_rows_ = false;
  std::vector<DumpRow> rows_;
};

void refresh_dump_window(DumpWindow *w) {
  // Nothing is sent while the target runs: its stop report is awaited.
  if (!debugger_waits() || w->reading != NULL) return;
  w->reading = new DumpRead(w);
  gtk_widget_set_sensitive(w->refresh_button, FALSE);
  start_long_work(w->reading);
}

void refresh_dump_windows() {
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next) refresh_dump_window(w);
}

void close_dump_window(GtkWidget *, DumpWindow *w) {
  if (w->reading != NULL) {
    w->reading->forget_window();
    cancel_long_work(w->reading);
    w->reading = NULL;
  }
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
  memory_sensitive = on;
  if (M.address_entry == NULL) return;
  gtk_widget_set_sensitive(M.address_entry, on);
  gtk_widget_set_sensitive(M.units_entry, on);
  gtk_widget_set_sensitive(M.dump_button, on);
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next)
    gtk_widget_set_sensitive(w->refresh_button, on && w->reading == NULL);
}
