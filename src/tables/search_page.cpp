#include "tables/search_page.hpp"

#include <cstdio>
#include <memory>
#include <string>

#include "exec/run_control.hpp"
#include "link/debugger_child.hpp"
#include "text/address.hpp"
#include "text/debugger_commands.hpp"
#include "text/dump_bytes.hpp"

namespace {

SearchPage S;

// "16 MiB", "1.5 MiB", "12 KiB", "300 bytes".
std::string size_text(uint64_t bytes) {
  char text[32];
  if (bytes >= (1ull << 20))
    snprintf(text, sizeof text, "%.3g MiB", bytes / 1048576.0);
  else if (bytes >= 1024)
    snprintf(text, sizeof text, "%.3g KiB", bytes / 1024.0);
  else
    snprintf(text, sizeof text, "%u byte%s", (unsigned)bytes, bytes == 1 ? "" : "s");
  return text;
}

void draw_hits() {
  GtkCList *list = GTK_CLIST(S.hit_list);
  gtk_clist_freeze(list);
  S.sizer.begin(S.hits.size());
  for (const SearchHit &h : S.hits) {
    char address[12], bytes[3 * hit_context_size + 1];
    snprintf(address, sizeof address, "%.8X", h.address);
    size_t n = 0;
    for (unsigned i = 0; i < h.context_length; i++)
      n += (size_t)snprintf(bytes + n, sizeof bytes - n, "%s%.2X", i ? " " : "", h.context[i]);
    bytes[n] = '\0';
    std::string text = printable_characters(h.context, h.context_length);
    const char *cells[3] = {address, bytes, text.c_str()};
    S.sizer.add(cells);
  }
  S.sizer.finish();
  gtk_clist_thaw(list);
}

class SearchJob : public LongReadJob {
 public:
  SearchJob(const SearchPattern &pattern, uint32_t first, uint32_t last, bool linear, const CpuState &cpu)
      : pattern_(pattern), first_(first), last_(last), linear_(linear),
        plan_(first, last, linear, cpu.cr0, cpu.cr3, cpu.cr4), matcher_(pattern) {}

  bool next_command(std::string *command) override {
    if (S.hits.size() >= search_hits_most) return false;
    if (!plan_.next(&request_)) return false;
    unit_ = dump_unit_for(request_.address, request_.length);
    char line[64];
    snprintf(line, sizeof line, request_.physical ? format_dump_physical : format_dump_linear,
             request_.length / dump_unit_size(unit_), unit_, 'x', request_.address);
    *command = line;
    return true;
  }
  void took_reply(const std::string &reply) override {
    DumpBytes d;
    scan_dump_bytes(reply, request_.address, dump_unit_size(unit_), 'x', &d);
    if (d.bytes.size() > request_.length) d.bytes.resize(request_.length);
    plan_.took(d);
    if (!request_.table) matcher_.feed(d.address, d.bytes.data(), d.bytes.size(), &S.hits, search_hits_most);
  }
  double progress(std::string *text) override {
    *text = "Searched " + size_text(plan_.done()) + " of " + size_text(plan_.total()) + ": " +
            std::to_string(S.hits.size()) + (S.hits.size() == 1 ? " hit" : " hits");
    return plan_.total() ? (double)plan_.done() / (double)plan_.total() : 1.0;
  }
  void ended(LongReadEnd how) override {
    char range[96];
    snprintf(range, sizeof range, "%s %.8X-%.8X", linear_ ? "linear" : "physical", first_, last_);
    std::string note = std::to_string(S.hits.size()) + (S.hits.size() == 1 ? " hit of " : " hits of ") +
                       pattern_hex(pattern_) + " in " + range;
    if (how == LongReadEnd::cancelled)
      note += "; cancelled after " + size_text(plan_.done()) + " of " + size_text(plan_.total());
    else if (how == LongReadEnd::cut)
      note += "; the debugger stopped answering after " + size_text(plan_.done());
    else if (S.hits.size() >= search_hits_most)
      note += "; the search stops at " + std::to_string(search_hits_most) + " hits";
    if (!plan_.stop_note().empty()) note += "; " + plan_.stop_note();
    if (plan_.pages_skipped() != 0)
      note += "; " + std::to_string(plan_.pages_skipped()) + " mapped page" + (plan_.pages_skipped() == 1 ? "" : "s") +
              " could not be read";
    gtk_label_set_text(GTK_LABEL(S.note), note.c_str());
    draw_hits();
  }

 private:
  SearchPattern pattern_;
  uint32_t first_, last_;
  bool linear_;
  SearchPlan plan_;
  SearchMatcher matcher_;
  ReadRequest request_ = {};
  char unit_ = 'b';
};

std::unique_ptr<SearchJob> job;

void refuse(const char *message) { gtk_label_set_text(GTK_LABEL(S.note), message); }

void search_clicked(GtkWidget *, gpointer) { start_search(); }

void hit_selected(GtkWidget *list, gint row, gint, GdkEvent *, gpointer) {
  gtk_clist_unselect_row(GTK_CLIST(list), row, 0);  // so that it can be clicked again
  if (row < 0 || (size_t)row >= S.hits.size()) return;
  if (tables_events.open_dump) tables_events.open_dump(S.hits[(size_t)row].address, S.hits_linear);
}

void kind_chosen(ButtonGroup *group) {
  gtk_widget_set_sensitive(S.case_button, group->selected == (uint32_t)SearchKind::text &&
                                              GTK_WIDGET_SENSITIVE(S.search_button));
}

}  // namespace

SearchPage &search_page() { return S; }

void build_search_page(GtkWidget *box) {
  GtkWidget *row = add_hbox(box, 0);
  add_label(row, 0, "Find", 0);
  S.pattern_entry = add_entry(row, 1, 200);
  connect_signal(S.pattern_entry, "activate", VUM_SIGNAL_FUNC(search_clicked), NULL);
  static const char *const kinds[3] = {" Hex Bytes ", " Value ", " Text "};
  S.kind_group = add_button_group(row, 0, 0, 3, kinds);
  S.kind_group->callback = kind_chosen;
  S.case_button = add_check_button(row, 0, "Ignore case", 0);

  row = add_hbox(box, 0);
  add_label(row, 0, "From (hex)", 0);
  S.from_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(S.from_entry), 10);
  add_label(row, 0, "To (hex)", 0);
  S.to_entry = add_entry(row, 0, 100);
  gtk_entry_set_max_length(GTK_ENTRY(S.to_entry), 10);
  static const char *const spaces[2] = {" Physical ", " Linear "};
  S.space_group = add_button_group(row, 0, 0, 2, spaces);
  S.search_button = add_button(row, 0, " Search ");
  connect_signal(S.search_button, "clicked", VUM_SIGNAL_FUNC(search_clicked), NULL);

  build_progress_row(box, &S.progress);
  S.note = add_label(box, 0, "", 1);
  gtk_misc_set_alignment(GTK_MISC(S.note), 0, 0.5);
  static const char *const titles[3] = {"Address", "Bytes", "Text"};
  S.hit_list = add_list(box, 3, titles);
  gtk_clist_column_titles_show(GTK_CLIST(S.hit_list));
  S.sizer.attach(S.hit_list, ListSizer::Measure::by_character);
  connect_signal(S.hit_list, "select_row", VUM_SIGNAL_FUNC(hit_selected), NULL);
  set_search_sensitive(false);
}

void set_search_sensitive(bool on) {
  if (S.search_button == NULL) return;
  bool may = on && !long_read_running();
  for (GtkWidget *w : {S.pattern_entry, S.from_entry, S.to_entry, S.search_button})
    gtk_widget_set_sensitive(w, may ? TRUE : FALSE);
  for (ButtonGroup *g : {S.kind_group, S.space_group})
    for (uint32_t i = 0; i < g->count; i++) gtk_widget_set_sensitive(g->buttons[i].button, may ? TRUE : FALSE);
  gtk_widget_set_sensitive(S.case_button, may && S.kind_group->selected == (uint32_t)SearchKind::text);
}

void start_search() {
  if (!debugger_waits() || long_read_running()) return;
  SearchKind kind = (SearchKind)S.kind_group->selected;
  SearchPattern pattern;
  char message[address_message_size];
  bool fold = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(S.case_button));
  if (!parse_search_pattern(gtk_entry_get_text(GTK_ENTRY(S.pattern_entry)), kind, fold, &pattern, message)) {
    refuse(message);
    return;
  }
  TypedAddress from, to;
  if (!parse_address(gtk_entry_get_text(GTK_ENTRY(S.from_entry)), AddressForm::plain, NULL, &from)) {
    refuse((std::string("From: ") + from.message).c_str());
    return;
  }
  if (!parse_address(gtk_entry_get_text(GTK_ENTRY(S.to_entry)), AddressForm::plain, NULL, &to)) {
    refuse((std::string("To: ") + to.message).c_str());
    return;
  }
  if (to.offset < from.offset) {
    refuse("The range ends before it begins: To is the last address searched");
    return;
  }
  bool linear = S.space_group->selected == 1;
  // The page tables to follow are those of the moment: the registers are read.
  CpuState cpu = {};
  if (linear) read_registers(&cpu);
  S.hits.clear();
  S.hits_linear = linear;
  draw_hits();
  gtk_label_set_text(GTK_LABEL(S.note), "Searching...");
  job.reset(new SearchJob(pattern, from.offset, to.offset, linear, cpu));
  start_long_read(job.get(), &S.progress);
}
