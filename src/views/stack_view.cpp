#include "views/stack_view.hpp"

#include <cstring>

#include <string>
#include <unordered_map>
#include <vector>

#include "kit/list_sizer.hpp"
#include "link/debugger_child.hpp"
#include "text/debugger_commands.hpp"
#include "text/reply_scan.hpp"
#include "text/settings.hpp"

const GdkColor changed_colour = {0, 0xCCCC, 0x0000, 0x0000};

// Element values by linear address: read during this stop, and at the stop
// before it (empty when the stack was not read then).
static std::unordered_map<uint32_t, uint32_t> values_now, values_before;

void note_stack_stop() {
  values_before.swap(values_now);
  values_now.clear();
}

void forget_stack_stops() {
  values_before.clear();
  values_now.clear();
}

// Reads one element; false when its reply does not give a value.
static bool read_element(bool wide, uint32_t address, uint32_t *value) {
  static std::string text;
  exchange(&text, wide ? format_examine_word : format_examine_half, address);
  return scan_stack_value(text.c_str(), value);
}

namespace {

struct StackRow {
  char esp[12], value[10], ebp[12];
  bool changed;
};

ListSizer sizer;

// Shows the rows: rewritten in place where the list has as many rows (only
// the rows that differ are drawn again, the picture moved with the values
// when the top of stack moved), filled anew otherwise. The row of
// the top of stack is selected, and scrolled to only when it is not in view.
void show_stack_rows(GtkWidget *stack_list, const std::vector<StackRow> &rows, int tos_row) {
  if (sizer.list() != stack_list) sizer.attach(stack_list, ListSizer::Measure::by_character);
  GtkCList *list = GTK_CLIST(stack_list);
  if ((size_t)list->rows == rows.size()) {
    // When the top of stack moved, the values and their offsets from EBP
    // moved up or down with it while the offsets from it stayed.
    std::vector<ListSizer::Row> cells(rows.size());
    for (size_t r = 0; r < rows.size(); r++)
      cells[r] = {{rows[r].esp, rows[r].value, rows[r].ebp}, rows[r].changed ? &changed_colour : NULL};
    sizer.update_rows(cells, 1);
  } else {
    gtk_clist_freeze(list);
    sizer.begin(rows.size());
    for (const StackRow &row : rows) {
      const char *cells[3] = {row.esp, row.value, row.ebp};
      sizer.add(cells, row.changed ? &changed_colour : NULL);
    }
    sizer.finish();
    gtk_clist_thaw(list);
  }
  if (tos_row < 0) return;
  if (list->selection == NULL || GPOINTER_TO_INT(list->selection->data) != tos_row)
    gtk_clist_select_row(list, tos_row, 0);
  if (gtk_clist_row_is_visible(list, tos_row) != GTK_VISIBILITY_FULL)
    gtk_clist_moveto(list, tos_row, 0, 0.5, 0.0);
}

}  // namespace

void refresh_stack_view(const CpuState &cpu, GtkWidget *label, GtkWidget *stack_list) {
  if (!cpu.ss.valid || !debugger_waits()) return;
  StackMode mode = stack_mode(cpu);
  if (!mode.base_ok) {
    g_print("VUM: failed to calculate stack base, stack not updated.\n");
    return;
  }
  // A new title redraws the label: set only when it changes.
  const char *title = mode.wide ? stack_title_wide : stack_title_narrow;
  if (strcmp(gtk_label_get_text(GTK_LABEL(label)), title) != 0) gtk_label_set_text(GTK_LABEL(label), title);
  const uint32_t esp = cpu.esp, ebp = cpu.ebp;
  StackWalk walk = stack_walk(esp, settings.stack_above, settings.stack_below, mode.size);
  // Every element is read first, then the list is drawn.
  std::vector<StackRow> rows;
  int tos_row = -1;
  for (uint32_t a = walk.hi; walk.hi >= walk.lo;) {
    uint32_t address = mode.base + a, value;
    if (read_element(mode.wide, address, &value) && (mode.wide || a < 0x10000)) {
      rows.emplace_back();
      StackRow &row = rows.back();
      if (a == esp) {
        strcpy(row.esp, "TOS");
        tos_row = (int)rows.size() - 1;
      } else {
        format_offset(row.esp, a, esp);
      }
      format_hex(row.value, value, mode.wide ? 8 : 4);
      format_offset(row.ebp, a, ebp);
      auto before = values_before.find(address);
      row.changed = before != values_before.end() && before->second != value;
      values_now[address] = value;
    }
    if (a < mode.size) break;  // the next element would lie below offset 0
    a -= mode.size;
    if (a < walk.lo) break;
  }
  show_stack_rows(stack_list, rows, tos_row);
}
