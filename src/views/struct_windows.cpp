#include "views/struct_windows.hpp"

#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kit/list_sizer.hpp"
#include "kit/long_work.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "text/reply_scan.hpp"

static GtkWidget *structs_list = NULL;

class StructRead;

// What each open window has besides its definition's widgets: the sizer of
// its list, the box where a long read shows its progress, the read under way.
struct StructWindow {
  ListSizer sizer;
  GtkWidget *progress_box = NULL;
  GtkWidget *follow_button = NULL;  // "Refresh at each stop"
  StructRead *reading = NULL;
};
static std::map<const StructDef *, std::unique_ptr<StructWindow>> windows;

// The idle call that reads the windows that follow stops, once a stop has
// been drawn.
static guint follow_source = 0;

// What set_structs_sensitive last said: a window's Refresh follows it,
// except while the window is read.
static bool structs_sensitive = false;

GtkWidget *structures_list() { return structs_list; }

static const char *const invalid_size_message =
    "VUM: encountered a structure value with a non power of 2 size, or a size larger than 8 "
    "bytes.\n";

void build_structures_page(GtkWidget *box) {
  static const char *const titles[5] = {"Open", "Base", "Elements", "Fields", "Name"};
  static const GtkJustification justifications[5] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                                     GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_RIGHT,
                                                     GTK_JUSTIFY_LEFT};
  structs_list = add_list(box, 5, titles);
  GtkCList *list = GTK_CLIST(structs_list);
  gtk_clist_column_titles_show(list);
  for (int c = 0; c < 5; c++) gtk_clist_set_column_justification(list, c, justifications[c]);
  connect_signal(structs_list, "select_row", VUM_SIGNAL_FUNC(open_struct_window), NULL);
}

void fill_struct_list() {
  if (structs_list == NULL) return;
  GtkCList *list = GTK_CLIST(structs_list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  int row = 0;
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next, row++) {
    char base[12], elements[12], fields[12];
    format_hex(base, def->base, 8);
    snprintf(elements, sizeof elements, "%u", def->elements);
    snprintf(fields, sizeof fields, "%u", def->field_count);
    const char *cells[5] = {"", base, elements, fields, def->name};
    gtk_clist_append(list, const_cast<gchar **>(cells));
    gtk_clist_set_row_data(list, row, def);
  }
  gtk_clist_thaw(list);
}

// The list form (Start and Total, an Index column) is for two or more elements.
static bool list_form(const StructDef *def) { return def->elements >= 2; }

static void stop_reading(StructDef *def);

// " Refresh " of a window.
static void refresh_clicked(GtkWidget *, StructDef *def) { refresh_struct_window(def); }

void open_struct_window(GtkWidget *, gint row, gint column, GdkEvent *, gpointer) {
  GtkCList *structs = GTK_CLIST(structs_list);
  StructDef *def = static_cast<StructDef *>(gtk_clist_get_row_data(structs, row));
  gtk_clist_unselect_row(structs, row, column);
  if (def == NULL || def->window != NULL) return;

  bool is_list = list_form(def);
  char title[160];
  snprintf(title, sizeof title, def->elements == 1 ? "VUM - Structure - %s" : "VUM - List - %s",
           def->name);
  def->window = new_top_window(GTK_WINDOW_TOPLEVEL, title, 400, 300);
  connect_signal(def->window, "destroy", VUM_SIGNAL_FUNC(close_struct_window), GINT_TO_POINTER(row));
  GtkWidget *box = add_window_box(def->window);

  static const char *const structure_titles[3] = {"Base", "Field", "Value"};
  static const GtkJustification structure_justifications[3] = {
      GTK_JUSTIFY_CENTER, GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_LEFT};
  static const char *const list_titles[4] = {"Base", "Index", "Field", "Value"};
  static const GtkJustification list_justifications[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                                          GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_LEFT};
  int columns = is_list ? 4 : 3;
  def->list = add_list(box, columns, is_list ? list_titles : structure_titles);
  GtkCList *list = GTK_CLIST(def->list);
  for (int c = 0; c < columns; c++)
    gtk_clist_set_column_justification(
        list, c, is_list ? list_justifications[c] : structure_justifications[c]);
  gtk_clist_column_titles_show(list);
  StructWindow *extra = new StructWindow();
  windows[def].reset(extra);
  extra->sizer.attach(def->list, ListSizer::Measure::by_character);
  // A long read's progress shows between the list and the buttons.
  extra->progress_box = add_hbox(box, 0);
  gtk_widget_hide(extra->progress_box);
  GtkWidget *follow_row = add_hbox(box, 0);
  extra->follow_button = add_check_button(follow_row, 0, "Refresh at each stop", 0);

  GtkWidget *bottom = add_hbox(box, 0);
  if (is_list) {
    // Six characters, or as many as the element count has, so that the
    // entries can always show the range that is read.
    char total[12];
    int digits = snprintf(total, sizeof total, "%u", def->elements);
    int longest = MAX(6, digits);
    add_label(bottom, 0, "Start", 0);
    def->start_entry = add_entry(bottom, 0, 50);
    gtk_entry_set_max_length(GTK_ENTRY(def->start_entry), longest);
    use_monospace(def->start_entry);
    gtk_entry_set_text(GTK_ENTRY(def->start_entry), "0");
    add_label(bottom, 0, "Total", 0);
    def->total_entry = add_entry(bottom, 0, 50);
    gtk_entry_set_max_length(GTK_ENTRY(def->total_entry), longest);
    use_monospace(def->total_entry);
    gtk_entry_set_text(GTK_ENTRY(def->total_entry), total);
  } else {
    add_filler(bottom);
    def->start_entry = def->total_entry = NULL;
  }
  def->refresh_button = add_button(bottom, 1, " Refresh ");
  connect_signal(def->refresh_button, "clicked", VUM_SIGNAL_FUNC(refresh_clicked), def);
  def->close_button = add_button(bottom, 0, " Close ");
  connect_signal(def->close_button, "clicked", VUM_SIGNAL_FUNC(close_struct_window),
                 GINT_TO_POINTER(row));
  // A window opened while the debugger cannot answer waits, like the others,
  // for it to come back.
  gtk_widget_set_sensitive(def->refresh_button, GTK_WIDGET_SENSITIVE(structs_list));

  gtk_clist_set_text(structs, row, 0, "X");
  refresh_struct_window(def);
}

void close_struct_window(GtkWidget *, gpointer data) {
  int row = GPOINTER_TO_INT(data);
  StructDef *def = static_cast<StructDef *>(gtk_clist_get_row_data(GTK_CLIST(structs_list), row));
  if (def == NULL || def->window == NULL) return;
  GtkWidget *window = def->window;
  // Closed before the window goes, so that its "destroy" finds it closed.
  stop_reading(def);
  def->window = NULL;
  def->close_button = def->refresh_button = def->start_entry = def->total_entry = def->list = NULL;
  windows.erase(def);
  gtk_clist_set_text(GTK_CLIST(structs_list), row, 0, "");
  if (!(GTK_OBJECT_FLAGS(window) & GTK_IN_DESTRUCTION)) gtk_widget_destroy(window);
}

// "(%u)" of an element's index, without printf (one per element).
static void format_index(char out[16], uint32_t index) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = (char)('0' + index % 10);
    index /= 10;
  } while (index != 0);
  char *p = out;
  *p++ = '(';
  while (n > 0) *p++ = digits[--n];
  *p++ = ')';
  *p = '\0';
}

// Shows a number in a Start or Total entry.
static void show_count(GtkWidget *entry, uint32_t value) {
  char text[12];
  snprintf(text, sizeof text, "%u", value);
  gtk_entry_set_text(GTK_ENTRY(entry), text);
}

// Reads one field at the address into its value text.
static void read_field(const StructField *field, uint32_t address, char value[field_value_size]) {
  const char *format = field_read_format(field->size);
  if (format == NULL) {
    g_print("%s", invalid_size_message);
    g_strlcpy(value, invalid_size_text, field_value_size);
    return;
  }
  // The command, as its format makes it ("x /1wx 0x%X\n"), put together
  // without printf: a list of many elements sends thousands of them.
  char command[32];
  size_t n = 0;
  while (format[n] != '%' && n < 16) {
    command[n] = format[n];
    n++;
  }
  format_hex(command + n, address, 1);
  static std::string reply;
  exchange(&reply, "%s", command);
  uint32_t words[2] = {0, 0};
  if (scan_field_reply(reply.c_str(), words, field->size == 8 ? 2 : 1))
    format_field_value(value, field->size, words);
  else
    g_strlcpy(value, unreadable_value_text, field_value_size);
}

// ---------------------------------------------------------------------------
// Reading a window: the fields of a batch of elements are read, then their
// rows are made (the list's rows are not touched between exchanges, which
// would find them out of the cache each time the debugger has run), batch
// after batch.

// Fields read in one batch, at least one element's.
static const uint32_t fields_per_batch = 256;

class StructRead : public LongWork {
 public:
  StructRead(StructDef *def, uint32_t start, uint32_t total)
      : def_(def), start_(start), total_(def->elements == 0 ? 0 : total) {
    progress_box = windows[def]->progress_box;
    is_list_ = list_form(def);
    size_ = element_size(def);
  }

  bool step() override {
    if (def_ == NULL || def_->window == NULL || !debugger_waits()) return false;
    // The batch's fields, element by element.
    values_.clear();
    uint32_t first = next_;
    while (next_ < total_ && (next_ == first || values_.size() < fields_per_batch)) {
      uint32_t address = def_->base + (start_ + next_) * size_;
      uint32_t offset = 0;
      for (const StructField *f = def_->first_field; f != NULL; f = f->next) {
        if (is_separator(f)) continue;
        values_.emplace_back();
        read_field(f, address + offset, values_.back().data());
        offset += f->size;
      }
      next_++;
    }
    GtkCList *list = GTK_CLIST(def_->list);
    ListSizer &rows = windows[def_]->sizer;
    gtk_clist_freeze(list);
    if (!begun_) {
      begun_ = true;
      rows.begin(def_->elements == 0 ? 1 : (uint64_t)total_ * (1 + (uint64_t)def_->field_count));
      if (def_->elements == 0) {
        // A list without elements: nothing to read.
        const char *cells[4] = {"", "", no_elements_text, ""};
        rows.add(cells);
      }
    }
    add_rows(rows, first, next_);
    bool more = next_ < total_ && debugger_waits();
    if (more) {
      rows.show_widths();
    } else {
      rows.finish();
      finished_rows_ = true;
    }
    gtk_clist_thaw(list);
    return more;
  }

  double fraction() const override { return total_ == 0 ? 1 : (double)next_ / total_; }

  void end(bool) override {
    if (def_ == NULL) return;
    StructWindow &w = *windows[def_];
    // Cancelled: the rows read so far stay, those of the read before go.
    if (!finished_rows_ && def_->list != NULL) {
      GtkCList *list = GTK_CLIST(def_->list);
      gtk_clist_freeze(list);
      if (!begun_) w.sizer.begin(0);
      w.sizer.finish();
      gtk_clist_thaw(list);
    }
    w.reading = NULL;
    if (def_->refresh_button != NULL) gtk_widget_set_sensitive(def_->refresh_button, structs_sensitive);
  }

  // The window is going: the read ends without touching it.
  void forget_window() { def_ = NULL; }

 private:
  // The rows of elements [from, to), whose values are in values_.
  void add_rows(ListSizer &rows, uint32_t from, uint32_t to) {
    const char *empty[4] = {"", "", "", ""};
    int value_column = is_list_ ? 3 : 2;
    size_t next_value = 0;
    for (uint32_t n = from; n < to; n++) {
      uint32_t index = start_ + n;
      char base[12], number[16];
      format_hex(base, def_->base + index * size_, 8);
      format_index(number, index);
      const char *element_row[4] = {base, is_list_ ? number : "", "", ""};
      rows.add(element_row);
      for (const StructField *f = def_->first_field; f != NULL; f = f->next) {
        if (is_separator(f)) {
          rows.add(empty);
          continue;
        }
        const char *row[4] = {"", "", "", ""};
        row[value_column - 1] = f->name;
        row[value_column] = values_[next_value++].data();
        rows.add(row);
      }
    }
  }

  StructDef *def_;
  uint32_t start_, total_, size_;
  bool is_list_;
  uint32_t next_ = 0;  // the next element to read, counted from start_
  bool begun_ = false, finished_rows_ = false;
  std::vector<std::array<char, field_value_size>> values_;
};

static void stop_reading(StructDef *def) {
  auto found = windows.find(def);
  if (found == windows.end() || found->second->reading == NULL) return;
  StructRead *read = found->second->reading;
  found->second->reading = NULL;
  read->forget_window();
  cancel_long_work(read);
}

void refresh_struct_window(StructDef *def) {
  if (!debugger_waits() || def->window == NULL) return;
  StructWindow &w = *windows[def];
  if (w.reading != NULL) return;  // read already; its Refresh is insensitive meanwhile
  uint32_t start = 0, total = 1;
  if (list_form(def)) {
    StructRange range = struct_range(def->elements, gtk_entry_get_text(GTK_ENTRY(def->start_entry)),
                                     gtk_entry_get_text(GTK_ENTRY(def->total_entry)));
    start = range.start;
    total = range.total;
    if (range.total_changed) show_count(def->total_entry, total);
    if (range.start_changed) show_count(def->start_entry, start);
  }
  w.reading = new StructRead(def, start, total);
  gtk_widget_set_sensitive(def->refresh_button, FALSE);
  start_long_work(w.reading);
}

void refresh_struct_windows() {
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next) refresh_struct_window(def);
}

void set_structs_sensitive(bool on) {
  structs_sensitive = on;
  if (structs_list == NULL) return;
  gtk_widget_set_sensitive(structs_list, on ? TRUE : FALSE);
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next)
    if (def->window != NULL)
      gtk_widget_set_sensitive(def->refresh_button, on && windows[def]->reading == NULL ? TRUE : FALSE);
}

GtkWidget *struct_follow_button(const StructDef *def) {
  auto found = windows.find(def);
  return found == windows.end() ? NULL : found->second->follow_button;
}

static bool follows_stops(const StructDef *def) {
  GtkWidget *button = struct_follow_button(def);
  return def->window != NULL && button != NULL && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(button));
}

static gboolean refresh_following(gpointer) {
  follow_source = 0;
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next)
    if (follows_stops(def)) refresh_struct_window(def);
  return FALSE;
}

void structs_stopped(const Stop &stop) {
  if (stop.report.lost) return;
  bool following = false;
  for (StructDef *def = struct_defs.first; def != NULL; def = def->next) following = following || follows_stops(def);
  if (following && follow_source == 0)
    follow_source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, refresh_following, NULL, NULL);
}

void structs_quit() {
  if (follow_source != 0) g_source_remove(follow_source);
  follow_source = 0;
}
