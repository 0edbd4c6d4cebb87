#include "tables/tables_page.hpp"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "link/debugger_child.hpp"
#include "text/address.hpp"
#include "text/debugger_commands.hpp"
#include "text/descriptor_tables.hpp"
#include "text/dump_bytes.hpp"

namespace {

TablesPage P;

const GdkColor changed_colour = {0, 0xCCCC, 0x0000, 0x0000};

// The most bytes one command reads of a table.
const uint32_t table_chunk = 4096;

const char *const table_names[tables_shown] = {"GDT", "IDT", "LDT", "TSS"};

// Where the table shown lies, as the registers say, or why there is none.
struct TablePlace {
  bool usable;
  uint32_t address;  // linear
  uint32_t length;   // bytes to read
  uint32_t limit;    // the segment's (TSS)
  bool real_mode;    // the IDT is the vector table
  bool wide;         // a 32-bit TSS
  std::string summary;
};

bool protected_mode() { return (P.cpu.cr0 & cr0_pe) != 0; }

TablePlace place_of(TableShown kind) {
  TablePlace t = {};
  char text[200];
  switch (kind) {
    case table_gdt: {
      uint32_t n = table_entries(P.cpu.gdtr.limit, 8, 8192);
      t.usable = true;
      t.address = P.cpu.gdtr.base;
      t.length = n * 8;
      snprintf(text, sizeof text, "GDTR %.8X, limit %.4X: %u descriptor%s%s", P.cpu.gdtr.base, P.cpu.gdtr.limit, n,
               n == 1 ? "" : "s", protected_mode() ? "" : " (real mode: not in use)");
      break;
    }
    case table_idt: {
      t.real_mode = !protected_mode();
      uint32_t n = table_entries(P.cpu.idtr.limit, t.real_mode ? 4 : 8, 256);
      t.usable = true;
      t.address = P.cpu.idtr.base;
      t.length = n * (t.real_mode ? 4 : 8);
      snprintf(text, sizeof text, "IDTR %.8X, limit %.4X: %u %s%s", P.cpu.idtr.base, P.cpu.idtr.limit, n,
               t.real_mode ? "real-mode vector" : "gate", n == 1 ? "" : "s");
      break;
    }
    case table_ldt: {
      SystemSegment s = ldt_segment(P.cpu.ldtr);
      t.usable = s.usable;
      if (s.usable) {
        uint32_t n = table_entries(s.limit, 8, 8192);
        t.address = s.base;
        t.length = n * 8;
        snprintf(text, sizeof text, "%s: %u descriptor%s", s.note.c_str(), n, n == 1 ? "" : "s");
      } else {
        snprintf(text, sizeof text, "No LDT: %s", s.note.c_str());
      }
      break;
    }
    default: {
      SystemSegment s = tss_segment(P.cpu.tr);
      t.usable = s.usable;
      t.wide = s.wide;
      t.limit = s.limit;
      if (s.usable) {
        uint32_t size = s.wide ? 104 : 44;
        t.address = s.base;
        t.length = s.limit + 1 < size ? s.limit + 1 : size;
        snprintf(text, sizeof text, "%s", s.note.c_str());
      } else {
        snprintf(text, sizeof text, "No TSS: %s", s.note.c_str());
      }
      break;
    }
  }
  t.summary = text;
  return t;
}

// ---------------------------------------------------------------------------
// Drawing.

bool row_changed(const TableView &v, size_t at, size_t size) {
  if (!v.have_before) return false;
  if (at + size > v.before.size()) return true;
  return memcmp(&v.bytes[at], &v.before[at], size) != 0;
}

void draw_table(TableShown kind, const std::vector<uint8_t> &bytes, const TablePlace &place, bool marks) {
  TableView &v = P.view[kind];
  ListSizer &sizer = P.sizer[kind];
  GtkCList *list = GTK_CLIST(P.list[kind]);
  v.marked.clear();
  auto add = [&](const char *const cells[], size_t at, size_t size) {
    bool changed = marks && at + size <= v.bytes.size() && row_changed(v, at, size);
    v.marked.push_back(changed);
    sizer.add(cells, changed ? &changed_colour : NULL);
  };
  gtk_clist_freeze(list);
  if (kind == table_tss) {
    std::vector<TssRow> rows = place.usable ? tss_rows(place.wide, bytes, place.limit) : std::vector<TssRow>();
    const std::vector<TssField> &fields = tss_fields(place.wide);
    sizer.begin(rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
      const char *cells[3] = {rows[i].offset, rows[i].name, rows[i].value};
      add(cells, fields[i].offset, fields[i].size);
    }
  } else if (kind == table_idt) {
    size_t size = place.real_mode ? 4 : 8;
    size_t n = bytes.size() / size;
    sizer.begin(n);
    for (size_t i = 0; i < n; i++) {
      GateRow r;
      if (place.real_mode)
        format_vector_row((uint32_t)i, (uint32_t)bytes_value(bytes, i * 4, 2), (uint32_t)bytes_value(bytes, i * 4 + 2, 2),
                          &r);
      else
        format_gate_row((uint32_t)i, descriptor_at(bytes, i), &r);
      const char *cells[6] = {r.vector, r.name.c_str(), r.gate.c_str(), r.target, r.dpl, r.present};
      add(cells, i * size, size);
    }
  } else {
    size_t n = bytes.size() / 8;
    sizer.begin(n);
    for (size_t i = 0; i < n; i++) {
      DescriptorRow r;
      format_descriptor_row(kind == table_ldt ? TableKind::ldt : TableKind::gdt, (uint32_t)i, descriptor_at(bytes, i), &r);
      const char *cells[8] = {r.index, r.selector, r.base, r.limit, r.type.c_str(), r.dpl, r.present, r.bits};
      add(cells, i * 8, 8);
    }
  }
  sizer.finish();
  gtk_clist_thaw(list);
}

void show_summary() {
  TableShown kind = (TableShown)P.table_group->selected;
  gtk_label_set_text(GTK_LABEL(P.summary), P.view[kind].summary.c_str());
}

void show_list(TableShown kind) {
  for (int k = 0; k < tables_shown; k++) {
    GtkWidget *scrolled = gtk_widget_get_parent(P.list[k]);
    if (k == kind)
      gtk_widget_show(scrolled);
    else
      gtk_widget_hide(scrolled);
  }
  show_summary();
}

// ---------------------------------------------------------------------------
// Reading a table.

void table_read_done(TableShown kind, const TablePlace &place, const std::vector<uint8_t> &bytes, LongReadEnd how,
                     const std::string &error);

class TableJob : public LongReadJob {
 public:
  void start(TableShown kind, const TablePlace &place) {
    kind_ = kind;
    place_ = place;
    done_ = 0;
    bytes_.clear();
    error_.clear();
  }
  bool next_command(std::string *command) override {
    if (done_ >= place_.length || !error_.empty()) return false;
    chunk_ = place_.length - done_ < table_chunk ? place_.length - done_ : table_chunk;
    unit_ = dump_unit_for(place_.address + done_, chunk_);
    char line[64];
    snprintf(line, sizeof line, format_dump_linear, chunk_ / dump_unit_size(unit_), unit_, 'x', place_.address + done_);
    *command = line;
    return true;
  }
  void took_reply(const std::string &reply) override {
    DumpBytes d;
    uint32_t at = place_.address + done_;
    scan_dump_bytes(reply, at, dump_unit_size(unit_), 'x', &d);
    size_t n = d.bytes.size() < chunk_ ? d.bytes.size() : chunk_;
    bytes_.insert(bytes_.end(), d.bytes.begin(), d.bytes.begin() + (long)n);
    done_ += chunk_;
    if (n == chunk_) return;
    char text[240];
    if (d.error == DumpError::page_not_present)
      snprintf(text, sizeof text, "the table is cut short at %.8X: linear %.8X is not mapped", at + (uint32_t)n,
               d.fault_address);
    else
      snprintf(text, sizeof text, "reading %.8X failed: %s", at, d.error_text.empty() ? "no values" : d.error_text.c_str());
    error_ = text;
  }
  double progress(std::string *text) override {
    char line[80];
    snprintf(line, sizeof line, "Reading the %s: %u of %u bytes", table_names[kind_], done_, place_.length);
    *text = line;
    return place_.length ? (double)done_ / place_.length : 1.0;
  }
  void ended(LongReadEnd how) override { table_read_done(kind_, place_, bytes_, how, error_); }

 private:
  TableShown kind_ = table_gdt;
  TablePlace place_;
  uint32_t done_ = 0, chunk_ = 0;
  char unit_ = 'b';
  std::vector<uint8_t> bytes_;
  std::string error_;
};

TableJob table_job;

void table_read_done(TableShown kind, const TablePlace &place, const std::vector<uint8_t> &bytes, LongReadEnd how,
                     const std::string &error) {
  TableView &v = P.view[kind];
  if (how != LongReadEnd::finished) {
    // What was read is shown as it is, unmarked, and kept nowhere: the
    // next stop, or Refresh, reads the table again.
    P.cancelled_at = P.stops;
    char text[64];
    snprintf(text, sizeof text, "; %s after %zu of %u bytes", how == LongReadEnd::cancelled ? "cancelled" : "cut off",
             bytes.size(), place.length);
    v.summary = place.summary + text;
    draw_table(kind, bytes, place, false);
    show_summary();
    return;
  }
  // A table read at an earlier stop is what the rows are compared with.
  if (v.have && v.read_at != P.stops) {
    v.before = v.bytes;
    v.have_before = true;
  }
  v.bytes = bytes;
  v.have = true;
  v.read_at = P.stops;
  v.address = place.address;
  v.summary = place.summary + (error.empty() ? "" : "; " + error);
  draw_table(kind, v.bytes, place, true);
  show_summary();
}

void read_table(TableShown kind) {
  if (!debugger_waits() || long_read_running() || !P.have_cpu) return;
  TablePlace place = place_of(kind);
  if (!place.usable || place.length == 0) {
    TableView &v = P.view[kind];
    if (v.have && v.read_at != P.stops) {
      v.before = v.bytes;
      v.have_before = true;
    }
    v.bytes.clear();
    v.have = true;
    v.read_at = P.stops;
    v.summary = place.summary;
    draw_table(kind, v.bytes, place, false);
    show_summary();
    return;
  }
  table_job.start(kind, place);
  start_long_read(&table_job, &P.progress);
}

// ---------------------------------------------------------------------------
// The walk of a linear address.

bool read_physical(uint32_t address, unsigned size, uint64_t *value) {
  std::string reply;
  return exchange(&reply, format_dump_physical, size / 4, 'w', 'x', address) &&
         scan_dump_value(reply, address, size, value);
}

void draw_walk() {
  GtkCList *list = GTK_CLIST(P.walk_list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  for (int i = 0; i < P.walk.steps; i++) {
    const WalkStep &s = P.walk.step[i];
    char index[12], at[20], value[20];
    snprintf(index, sizeof index, "%u", s.index);
    snprintf(at, sizeof at, "%.8" PRIX64, s.entry_address);
    if (s.read)
      snprintf(value, sizeof value, P.walk.pae ? "%.16" PRIX64 : "%.8" PRIX64, s.entry);
    else
      snprintf(value, sizeof value, "unread");
    bool large = i == P.walk.steps - 1 && P.walk.outcome == WalkOutcome::mapped && s.level == WalkLevel::directory;
    std::string flags = s.read ? entry_flags_text(s.entry, s.level, P.walk.pae, large) : "";
    std::string target = entry_target_text(P.walk, i);
    const char *cells[6] = {walk_level_name(s.level), index, at, value, flags.c_str(), target.c_str()};
    gtk_clist_append(list, const_cast<gchar **>(cells));
  }
  gtk_clist_thaw(list);
  gtk_label_set_text(GTK_LABEL(P.walk_note), walk_outcome_text(P.walk).c_str());
}

void walk_again() {
  if (!P.walked || !debugger_waits() || long_read_running()) return;
  P.walk = walk_page_tables(P.walk_linear, P.cpu.cr0, P.cpu.cr3, P.cpu.cr4, read_physical);
  draw_walk();
}

// ---------------------------------------------------------------------------
// When to read.

bool page_shown() { return P.box != NULL && GTK_WIDGET_MAPPED(P.box); }

bool stale(TableShown kind) { return P.view[kind].read_at != P.stops && P.cancelled_at != P.stops; }

void read_shown_table_if_stale() {
  TableShown kind = (TableShown)P.table_group->selected;
  if (stale(kind)) read_table(kind);
}

gboolean refresh_after_stop(gpointer) {
  P.refresh_source = 0;
  if (!page_shown()) return FALSE;
  read_shown_table_if_stale();
  walk_again();
  return FALSE;
}

void schedule_refresh() {
  if (P.refresh_source == 0) P.refresh_source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, refresh_after_stop, NULL, NULL);
}

void page_mapped(GtkWidget *, gpointer) {
  if (P.have_cpu && stale((TableShown)P.table_group->selected)) schedule_refresh();
}

void table_chosen(ButtonGroup *group) {
  TableShown kind = (TableShown)group->selected;
  show_list(kind);
  if (P.have_cpu && stale(kind) && page_shown()) read_table(kind);
}

void refresh_clicked(GtkWidget *, gpointer) { refresh_tables(); }
void translate_clicked(GtkWidget *, gpointer) { translate_linear_address(); }

}  // namespace

TablesPage &tables_page() { return P; }

bool tables_row_marked(GtkWidget *list, int row) {
  GList *node = g_list_nth(GTK_CLIST(list)->row_list, (guint)row);
  return node != NULL && GTK_CLIST_ROW(node)->fg_set;
}

void build_tables_page(GtkWidget *box) {
  P.box = box;
  connect_signal(box, "map", VUM_SIGNAL_FUNC(page_mapped), NULL);
  GtkWidget *row = add_hbox(box, 0);
  static const char *const kinds[tables_shown] = {" GDT ", " IDT ", " LDT ", " TSS "};
  P.table_group = add_button_group(row, 0, 0, tables_shown, kinds);
  P.table_group->callback = table_chosen;
  P.refresh_button = add_button(row, 0, " Refresh ");
  connect_signal(P.refresh_button, "clicked", VUM_SIGNAL_FUNC(refresh_clicked), NULL);
  P.summary = add_label(row, 0, "", 0);

  static const char *const descriptor_titles[8] = {"Index", "Selector", "Base", "Limit", "Type", "DPL", "P", "D/B L"};
  static const char *const gate_titles[6] = {"Vector", "Exception", "Gate", "Target", "DPL", "P"};
  static const char *const tss_titles[3] = {"Offset", "Field", "Value"};
  const char *const *titles[tables_shown] = {descriptor_titles, gate_titles, descriptor_titles, tss_titles};
  const int columns[tables_shown] = {8, 6, 8, 3};
  for (int k = 0; k < tables_shown; k++) {
    P.list[k] = add_list(box, columns[k], titles[k]);
    gtk_clist_column_titles_show(GTK_CLIST(P.list[k]));
    P.sizer[k].attach(P.list[k], ListSizer::Measure::by_character);
  }
  build_progress_row(box, &P.progress);

  add_separator(box, 0, 0);
  row = add_hbox(box, 0);
  add_label(row, 0, "Linear address (hex)", 0);
  P.linear_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(P.linear_entry), 10);
  connect_signal(P.linear_entry, "activate", VUM_SIGNAL_FUNC(translate_clicked), NULL);
  P.translate_button = add_button(row, 0, " Translate ");
  connect_signal(P.translate_button, "clicked", VUM_SIGNAL_FUNC(translate_clicked), NULL);
  static const char *const walk_titles[6] = {"Level", "Index", "Entry at", "Value", "Flags", "Leads to"};
  P.walk_list = add_sized_list(box, 6, walk_titles, -1, 90);
  gtk_clist_column_titles_show(GTK_CLIST(P.walk_list));
  P.walk_note = add_label(box, 0, "", 1);
  gtk_misc_set_alignment(GTK_MISC(P.walk_note), 0, 0.5);

  show_list(table_gdt);
  set_tables_sensitive(false);
}

void set_tables_sensitive(bool on) {
  if (P.table_group == NULL) return;
  // A long read keeps its Cancel; everything that would start another waits.
  bool may = on && !long_read_running();
  for (uint32_t i = 0; i < P.table_group->count; i++)
    gtk_widget_set_sensitive(P.table_group->buttons[i].button, may ? TRUE : FALSE);
  for (GtkWidget *w : {P.refresh_button, P.linear_entry, P.translate_button}) gtk_widget_set_sensitive(w, may ? TRUE : FALSE);
}

void tables_starting() {
  cancel_long_read();
  P.have_cpu = false;
  P.stops = 0;
  P.cancelled_at = 0;
  P.walked = false;
  for (TableView &v : P.view) {
    v.read_at = 0;
    v.have = v.have_before = false;
    v.bytes.clear();
    v.before.clear();
  }
}

void tables_stopped(const Stop &stop) {
  if (stop.report.lost) return;
  P.cpu = stop.cpu;
  P.have_cpu = true;
  P.stops++;
  if (page_shown()) schedule_refresh();
}

void tables_quit() {
  if (P.refresh_source != 0) g_source_remove(P.refresh_source);
  P.refresh_source = 0;
  cancel_long_read();
}

void refresh_tables() {
  if (!debugger_waits() || long_read_running()) return;
  read_registers(&P.cpu);
  P.have_cpu = true;
  P.cancelled_at = 0;
  read_table((TableShown)P.table_group->selected);
  walk_again();
}

void translate_linear_address() {
  if (!debugger_waits() || long_read_running()) return;
  TypedAddress typed;
  if (!parse_address(gtk_entry_get_text(GTK_ENTRY(P.linear_entry)), AddressForm::plain, NULL, &typed)) {
    gtk_clist_clear(GTK_CLIST(P.walk_list));
    gtk_label_set_text(GTK_LABEL(P.walk_note), typed.message);
    return;
  }
  if (!P.have_cpu) {
    read_registers(&P.cpu);
    P.have_cpu = true;
  }
  P.walked = true;
  P.walk_linear = typed.offset;
  walk_again();
}
