#include "views/dump_windows.hpp"

#include <gdk/gdkkeysyms.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include "kit/long_work.hpp"
#include "link/debugger_child.hpp"
#include "text/address.hpp"
#include "text/debugger_commands.hpp"
#include "text/dump_bytes.hpp"
#include "text/dump_scan.hpp"
#include "text/page_walk.hpp"
#include "text/reply_scan.hpp"
#include "text/symbols.hpp"
#include "text/typed_value.hpp"

static MemoryPage M = {};

MemoryPage &memory_page() { return M; }

static void open_dump_window(GtkWidget *, gpointer);

// The text of a dump reply kept at most: far more than the largest dump the
// Units entry allows.
static const size_t dump_reply_limit = 64 << 20;

static const char size_letters[] = "bhwg";
static const char format_letters[] = "xduto";
static const char *const size_words[4] = {"Byte", "Word", "Doubleword", "Quadword"};
static const char *const format_words[5] = {"hex", "decimal", "unsigned decimal", "binary", "octal"};

// What set_memory_sensitive last said: a window's Refresh follows it, except
// while the window is read.
static bool memory_sensitive = false;

static uint32_t unit_bytes_of(const DumpWindow *w) { return 1u << (w->unit_size & 3); }
static char format_letter_of(const DumpWindow *w) { return format_letters[w->unit_format % 5]; }

void build_memory_page(GtkWidget *page) {
  GtkWidget *row = add_hbox(page, 0);
  add_label(row, 0, "Address (hex)", 0);
  M.address_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(M.address_entry), 10);
  use_monospace(M.address_entry);
  static const char *const spaces[2] = {" Physical ", " Linear "};
  M.address_space_group = add_button_group(row, 0, 0, 2, spaces);

  row = add_hbox(page, 0);
  add_label(row, 0, "Units (dec)", 0);
  M.units_entry = add_entry(row, 0, 100);
  // Seven digits: 1 MiB of bytes is 1048576 units.
  gtk_entry_set_max_length(GTK_ENTRY(M.units_entry), 7);
  use_monospace(M.units_entry);
  connect_signal(M.units_entry, "activate", VUM_SIGNAL_FUNC(open_dump_window), NULL);
  M.dump_button = add_button(row, 0, " Dump ");
  gtk_widget_set_usize(M.dump_button, 100, 20);
  connect_signal(M.dump_button, "clicked", VUM_SIGNAL_FUNC(open_dump_window), NULL);

  // Why the typed text opened nothing, under the entries it is about.
  M.message = add_label(page, 0, "", 1);
  gtk_misc_set_alignment(GTK_MISC(M.message), 0, 0.5);

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
static gboolean list_button_pressed(GtkWidget *list, GdkEventButton *event, DumpWindow *w);
static gboolean list_key_pressed(GtkWidget *list, GdkEventKey *event, DumpWindow *w);

static void new_dump_window(uint32_t address, uint32_t space, uint32_t size, uint32_t units, uint32_t format) {
  DumpWindow *w = new DumpWindow();
  w->prev = M.windows.last;
  if (M.windows.last)
    M.windows.last->next = w;
  else
    M.windows.first = w;
  M.windows.last = w;

  w->address = address;
  w->address_space = space;
  w->unit_size = size & 3;
  w->units = units;
  w->unit_format = format % 5;

  char title[64];
  snprintf(title, sizeof title, "VUM - Memory Dump - %.8X %s", w->address,
           w->address_space == 0 ? "physical" : "linear");
  w->window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 550, 300);
  w->destroy_handler = connect_signal(w->window, "destroy", VUM_SIGNAL_FUNC(close_dump_window), w);
  GtkWidget *box = add_window_box(w->window);
  // A linear window says where its first byte lies in physical memory.
  w->note = add_label(box, 0, "", 0);
  gtk_misc_set_alignment(GTK_MISC(w->note), 0, 0.5);
  use_monospace(w->note);
  if (w->address_space == 0) gtk_widget_hide(w->note);
  static const char *const titles[4] = {"Base", "Offset", "Values", "Characters"};
  int columns = w->unit_size == 0 ? 4 : 3;
  w->list = add_list(box, columns, titles);
  GtkCList *list = GTK_CLIST(w->list);
  static const GtkJustification justify[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_RIGHT,
                                              GTK_JUSTIFY_LEFT, GTK_JUSTIFY_LEFT};
  for (int c = 0; c < columns; c++) gtk_clist_set_column_justification(list, c, justify[c]);
  gtk_clist_column_titles_show(list);
  w->sizer.attach(w->list, ListSizer::Measure::by_character);
  connect_signal(w->list, "button_press_event", VUM_SIGNAL_FUNC(list_button_pressed), w);
  connect_signal(w->list, "key_press_event", VUM_SIGNAL_FUNC(list_key_pressed), w);
  GtkWidget *buttons = add_hbox(box, 0);
  w->follow_button = add_check_button(buttons, 0, "Refresh at each stop", 0);
  w->progress_box = add_hbox(buttons, 1);
  w->refresh_button = add_button(buttons, 1, " Refresh ");
  connect_signal(w->refresh_button, "clicked", VUM_SIGNAL_FUNC(refresh_clicked), w);
  w->close_button = add_button(buttons, 0, " Close ");
  connect_signal(w->close_button, "clicked", VUM_SIGNAL_FUNC(close_dump_window), w);
  gtk_widget_set_sensitive(w->refresh_button, memory_sensitive);
  refresh_dump_window(w);
}

static void show_page_message(const char *text) { gtk_label_set_text(GTK_LABEL(M.message), text); }

static void open_dump_window(GtkWidget *, gpointer) {
  // Nothing typed is sent unchecked: a refusal says why and keeps the text.
  // A symbol's name is an address once symbols are loaded.
  TypedAddress typed;
  SymbolResolver names = symbol_count() > 0 ? symbol_address : NULL;
  if (!parse_address(gtk_entry_get_text(GTK_ENTRY(M.address_entry)), AddressForm::plain, names, &typed)) {
    show_page_message(typed.message);
    return;
  }
  uint32_t size = M.unit_size_group->selected & 3;
  uint32_t units = 0;
  char message[address_message_size];
  if (!parse_count(gtk_entry_get_text(GTK_ENTRY(M.units_entry)), largest_dump_bytes >> size, "units", &units,
                   message)) {
    show_page_message(message);
    return;
  }
  show_page_message("");
  gtk_entry_set_text(GTK_ENTRY(M.address_entry), "");
  gtk_entry_set_text(GTK_ENTRY(M.units_entry), "");
  M.last_dump_bytes = units << size;
  new_dump_window(typed.offset, M.address_space_group->selected, size, units, M.unit_format_group->selected);
}

void open_dump_at(uint32_t address, bool linear) {
  if (M.unit_size_group == NULL) return;
  uint32_t size = M.unit_size_group->selected & 3;
  uint32_t most = largest_dump_bytes >> size;
  uint32_t units = 0;
  char message[address_message_size];
  if (!parse_count(gtk_entry_get_text(GTK_ENTRY(M.units_entry)), most, "units", &units, message)) {
    uint32_t bytes = M.last_dump_bytes != 0 ? M.last_dump_bytes : default_dump_bytes;
    units = MAX(1u, bytes >> size);
  }
  new_dump_window(address, linear ? 1 : 0, size, units, M.unit_format_group->selected);
}

// ---------------------------------------------------------------------------
// The page walk of a linear window: the registers of the last stop, each
// entry read with one exchange.

static bool read_physical(uint32_t address, unsigned size, uint64_t *value) {
  std::string reply;
  return exchange(&reply, format_dump_physical, size / 4, 'w', 'x', address) &&
         scan_dump_value(reply, address, size, value);
}

static PageWalk walk_linear(uint32_t linear) {
  return walk_page_tables(linear, M.cpu.cr0, M.cpu.cr3, M.cpu.cr4, read_physical);
}

static void show_first_byte(DumpWindow *w) {
  std::string note = "First byte: " + first_byte_note(walk_linear(w->address));
  gtk_label_set_text(GTK_LABEL(w->note), note.c_str());
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
  // By hand: a long dump shifts thousands of labels.
  n += by;
  char digits[24];
  int count = 0;
  do {
    digits[count++] = (char)('0' + n % 10);
    n /= 10;
  } while (n != 0);
  char *out = offset + 1;
  while (count > 0) *out++ = digits[--count];
  *out = '\0';
}

}  // namespace

class DumpRead : public LongWork {
 public:
  explicit DumpRead(DumpWindow *w) : w_(w) {
    progress_box = w->progress_box;
    unit_bytes_ = unit_bytes_of(w);
    per_command_ = dump_command_bytes / unit_bytes_;
  }

  bool step() override {
    if (w_ == NULL || !debugger_waits()) return false;
    uint32_t count = MIN(per_command_, w_->units - done_);
    uint32_t from = done_ * unit_bytes_;
    static std::string reply;
    exchange_long(&reply, dump_reply_limit, w_->address_space == 0 ? format_dump_physical : format_dump_linear,
                  count, size_letters[w_->unit_size & 3], format_letter_of(w_), w_->address + from);
    rows_.clear();
    scan_dump_reply(reply, &rows_);
    bool byte_units = w_->unit_size == 0;
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
      uint64_t units_per_line = dump_units_per_line(unit_bytes_);
      w_->sizer.begin((w_->units + units_per_line - 1) / units_per_line);
    }
    for (DumpRow &row : rows_) {
      shift_offset(row.offset, from);
      // The Characters cell: the row's own values as text; an error line
      // shows none.
      std::string characters = byte_units && row.base[0] != '\0'
                                   ? value_characters(row.values, format_letter_of(w_), dump_units_per_line(1))
                                   : "";
      const char *cells[4] = {row.base, row.offset, row.values.c_str(), characters.c_str()};
      w_->sizer.add(cells);
    }
    if (ended)
      finish_rows();
    else
      w_->sizer.show_widths();
    gtk_clist_thaw(list);
    if (ended && w_->address_space != 0 && debugger_waits()) show_first_byte(w_);
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

// ---------------------------------------------------------------------------
// Changing a value: a small window with the value in the dump's format.

namespace {

// The blank-separated words of a Values cell: where each begins and ends.
struct Word {
  size_t begin, end;
};

std::vector<Word> words_of(const char *text) {
  std::vector<Word> words;
  for (size_t i = 0; text[i] != '\0';) {
    if (text[i] == ' ' || text[i] == '\t') {
      i++;
      continue;
    }
    size_t begin = i;
    while (text[i] != '\0' && text[i] != ' ' && text[i] != '\t') i++;
    words.push_back({begin, i});
  }
  return words;
}

std::string cell_text(DumpWindow *w, int row, int column) {
  gchar *text = NULL;
  if (row < 0 || row >= GTK_CLIST(w->list)->rows || column >= GTK_CLIST(w->list)->columns) return "";
  if (!gtk_clist_get_text(GTK_CLIST(w->list), row, column, &text) || text == NULL) return "";
  return text;
}

// Why Store cannot write now, or NULL when it can.
const char *why_waiting() {
  if (!debugger_online()) return "The debugger is not running: start it to change memory";
  if (target_running()) return "The target is running: the value can be stored once it stops";
  if (!debugger_waits()) return "The debugger cannot answer now";
  // The pages wait while a read of another page is under way, too.
  if (long_work_busy() || !memory_sensitive) return "A read is under way: store the value once it has ended";
  return NULL;
}

void show_edit_message(DumpEdit *e, const char *text, bool waiting) {
  gtk_label_set_text(GTK_LABEL(e->message), text);
  e->waiting = waiting;
}

// The Store button follows the debugger; a message says why it waits.
void follow_debugger(DumpEdit *e) {
  const char *why = why_waiting();
  gtk_widget_set_sensitive(e->store_button, why == NULL);
  if (why != NULL)
    show_edit_message(e, why, true);
  else if (e->waiting)
    show_edit_message(e, "", false);
}

void store_clicked(GtkWidget *, DumpWindow *w) { store_dump_value(w); }
void cancel_clicked(GtkWidget *, DumpWindow *w) { close_dump_edit(w); }

// The window manager closed it.
void edit_destroyed(GtkWidget *, DumpWindow *w) {
  if (w->edit == NULL) return;
  delete w->edit;
  w->edit = NULL;
}

gboolean edit_key_pressed(GtkWidget *, GdkEventKey *event, DumpWindow *w) {
  if (event->keyval != GDK_Escape) return FALSE;
  close_dump_edit(w);
  return TRUE;
}

}  // namespace

bool edit_dump_value(DumpWindow *w, int row, int column) {
  if (!debugger_waits() || row < 0 || column < 0) return false;
  std::string base = cell_text(w, row, 0), values = cell_text(w, row, 2);
  std::vector<Word> words = words_of(values.c_str());
  if (base.empty() || (size_t)column >= words.size()) return false;
  uint32_t unit = unit_bytes_of(w);
  uint32_t address = dump_value_address(w->address, (unsigned)row, (unsigned)column, unit);
  // The row must be where the window's layout puts it (an error line ends a dump).
  char expected_base[12];
  snprintf(expected_base, sizeof expected_base, "%.8X", dump_value_address(w->address, (unsigned)row, 0, unit));
  if (strcasecmp(base.c_str(), expected_base) != 0) return false;
  std::string shown = values.substr(words[(size_t)column].begin, words[(size_t)column].end - words[(size_t)column].begin);

  close_dump_edit(w);
  DumpEdit *e = new DumpEdit();
  w->edit = e;
  e->row = (uint32_t)row;
  e->column = (uint32_t)column;
  e->address = address;
  char title[80];
  snprintf(title, sizeof title, "VUM - Change Memory - %.8X %s", address, w->address_space == 0 ? "physical" : "linear");
  e->window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 380, -1);
  gtk_window_set_transient_for(GTK_WINDOW(e->window), GTK_WINDOW(w->window));
  connect_signal(e->window, "destroy", VUM_SIGNAL_FUNC(edit_destroyed), w);
  connect_signal(e->window, "key_press_event", VUM_SIGNAL_FUNC(edit_key_pressed), w);
  GtkWidget *box = add_window_box(e->window);
  char what[120];
  snprintf(what, sizeof what, "%s at %s %.8X (%s)", size_words[w->unit_size & 3],
           w->address_space == 0 ? "physical" : "linear", address, format_words[w->unit_format % 5]);
  e->what = add_label(box, 0, what, 0);
  gtk_misc_set_alignment(GTK_MISC(e->what), 0, 0.5);
  e->entry = add_entry(box, 0, -1);
  // 64 binary digits are the longest value; blanks around it are allowed.
  gtk_entry_set_max_length(GTK_ENTRY(e->entry), 80);
  use_monospace(e->entry);
  gtk_entry_set_text(GTK_ENTRY(e->entry), shown.c_str());
  connect_signal(e->entry, "activate", VUM_SIGNAL_FUNC(store_clicked), w);
  e->message = add_label(box, 0, "", 1);
  gtk_misc_set_alignment(GTK_MISC(e->message), 0, 0.5);
  GtkWidget *buttons = add_hbox(box, 0);
  add_filler(buttons);
  e->store_button = add_button(buttons, 0, " Store ");
  connect_signal(e->store_button, "clicked", VUM_SIGNAL_FUNC(store_clicked), w);
  e->cancel_button = add_button(buttons, 0, " Cancel ");
  connect_signal(e->cancel_button, "clicked", VUM_SIGNAL_FUNC(cancel_clicked), w);
  follow_debugger(e);
  gtk_widget_grab_focus(e->entry);
  gtk_editable_select_region(GTK_EDITABLE(e->entry), 0, -1);
  return true;
}

void close_dump_edit(DumpWindow *w) {
  DumpEdit *e = w->edit;
  if (e == NULL) return;
  w->edit = NULL;
  gtk_widget_destroy(e->window);
  delete e;
}

bool store_dump_value(DumpWindow *w) {
  DumpEdit *e = w->edit;
  if (e == NULL) return false;
  if (const char *why = why_waiting()) {
    show_edit_message(e, why, true);
    return false;
  }
  char message[address_message_size];
  uint32_t unit = unit_bytes_of(w);
  uint64_t value = 0;
  if (!parse_memory_value(gtk_entry_get_text(GTK_ENTRY(e->entry)), unit, format_letter_of(w), &value, message)) {
    show_edit_message(e, message, false);
    return false;
  }
  bool linear = w->address_space != 0;
  MemoryWrite writes[8];
  int n = memory_writes(e->address, unit, value, linear, writes);
  // Where each part goes, before anything is written: a value is stored
  // whole or not at all when a page of it is not mapped.
  uint32_t physical[8];
  bool have_page = false;
  uint64_t page_linear = 0, page_physical = 0, page_size = 0;
  for (int i = 0; i < n; i++) {
    if (!linear) {
      physical[i] = writes[i].address;
      continue;
    }
    if (!have_page || writes[i].address - page_linear >= page_size) {
      PageWalk walk = walk_linear(writes[i].address);
      if (walk.outcome == WalkOutcome::paging_off) {
        page_size = 1ull << 32;
        page_linear = page_physical = 0;
      } else if (walk.outcome == WalkOutcome::mapped) {
        page_size = walk.page_size;
        page_physical = walk.page_base;
        page_linear = writes[i].address - (walk.physical - walk.page_base);
      } else {
        std::string why = "Not stored: " + walk_outcome_text(walk);
        show_edit_message(e, why.c_str(), false);
        return false;
      }
      have_page = true;
    }
    uint64_t at = page_physical + (writes[i].address - page_linear);
    if (at + writes[i].size - 1 > 0xffffffffu) {
      char text[120];
      snprintf(text, sizeof text, "Not stored: linear %.8X is physical %.9" PRIX64 ", above 4 GiB", writes[i].address, at);
      show_edit_message(e, text, false);
      return false;
    }
    physical[i] = (uint32_t)at;
  }
  for (int i = 0; i < n; i++) {
    std::string reply;
    bool answered = exchange(&reply, format_set_memory, physical[i], writes[i].size, writes[i].value);
    if (!answered || setting_refused(reply, message)) {
      std::string why = answered ? std::string("The debugger refused: ") + message
                                 : std::string("The debugger did not answer: the value may not be stored");
      // What did get written shows.
      refresh_dump_window(w);
      if (w->edit != NULL) show_edit_message(e, why.c_str(), false);
      return false;
    }
  }
  close_dump_edit(w);
  refresh_dump_window(w);
  return true;
}

// The value under a point of the Values column: the word the point is on,
// or the one after the blank it is on; before the first or after the last,
// that one.
static int value_at(DumpWindow *w, int row, int x) {
  std::string values = cell_text(w, row, 2);
  std::vector<Word> words = words_of(values.c_str());
  if (words.empty()) return -1;
  GtkCList *list = GTK_CLIST(w->list);
  int left = list->column[2].area.x + list->hoffset;
  PangoLayout *layout = gtk_widget_create_pango_layout(w->list, values.c_str());
  int index = 0, trailing = 0;
  pango_layout_xy_to_index(layout, (x - left) * PANGO_SCALE, 0, &index, &trailing);
  g_object_unref(layout);
  int column = 0;
  while ((size_t)column + 1 < words.size() && words[(size_t)column].end <= (size_t)index) column++;
  return column;
}

static gboolean list_button_pressed(GtkWidget *, GdkEventButton *event, DumpWindow *w) {
  GtkCList *list = GTK_CLIST(w->list);
  if (event->type != GDK_2BUTTON_PRESS || event->button != 1 || event->window != list->clist_window) return FALSE;
  int row = -1, column = -1;
  if (!gtk_clist_get_selection_info(list, (gint)event->x, (gint)event->y, &row, &column)) return FALSE;
  int value = column == 2 ? value_at(w, row, (int)event->x) : 0;
  if (value >= 0) edit_dump_value(w, row, value);
  return FALSE;
}

// Enter on a row changes its first value.
static gboolean list_key_pressed(GtkWidget *, GdkEventKey *event, DumpWindow *w) {
  if (event->keyval != GDK_Return && event->keyval != GDK_KP_Enter && event->keyval != GDK_ISO_Enter) return FALSE;
  GtkCList *list = GTK_CLIST(w->list);
  int row = list->selection != NULL ? GPOINTER_TO_INT(list->selection->data) : list->focus_row;
  return edit_dump_value(w, row, 0) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// Closing, sensitivity, stops.

void close_dump_window(GtkWidget *, DumpWindow *w) {
  if (w->reading != NULL) {
    w->reading->forget_window();
    cancel_long_work(w->reading);
    w->reading = NULL;
  }
  close_dump_edit(w);
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
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next) {
    gtk_widget_set_sensitive(w->refresh_button, on && w->reading == NULL);
    if (w->edit != NULL) follow_debugger(w->edit);
  }
}

void memory_starting() { M.cpu = CpuState(); }

// After the stop has been drawn: the windows that follow stops read again.
static gboolean refresh_following(gpointer) {
  M.follow_source = 0;
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next)
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w->follow_button))) refresh_dump_window(w);
  return FALSE;
}

void memory_stopped(const Stop &stop) {
  if (stop.report.lost) return;
  M.cpu = stop.cpu;
  bool following = false;
  for (DumpWindow *w = M.windows.first; w != NULL; w = w->next)
    following = following || gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w->follow_button));
  if (following && M.follow_source == 0)
    M.follow_source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, refresh_following, NULL, NULL);
}

void memory_quit() {
  if (M.follow_source != 0) g_source_remove(M.follow_source);
  M.follow_source = 0;
}
