#include "views/stack_view.hpp"

#include <cstring>

#include <string>
#include <unordered_map>

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

void refresh_stack_view(const CpuState &cpu, GtkWidget *label, GtkWidget *stack_list) {
  if (!cpu.ss.valid || !debugger_waits()) return;
  StackMode mode = stack_mode(cpu);
  if (!mode.base_ok) {
    g_print("VUM: failed to calculate stack base, stack not updated.\n");
    return;
  }
  gtk_label_set_text(GTK_LABEL(label), mode.wide ? "32bit Stack" : "16bit Stack");
  const uint32_t esp = cpu.esp, ebp = cpu.ebp;
  StackWalk walk = stack_walk(esp, settings.stack_above, settings.stack_below, mode.size);
  GtkCList *list = GTK_CLIST(stack_list);
  gtk_clist_freeze(list);
  gtk_clist_clear(list);
  if (walk.hi < walk.lo) {
    gtk_clist_thaw(list);
    return;
  }
  int tos_row = -1, rows = 0;
  for (uint32_t a = walk.hi;;) {
    uint32_t address = mode.base + a, value;
    if (read_element(mode.wide, address, &value) && (mode.wide || a < 0x10000)) {
      char esp_cell[12], value_cell[10], ebp_cell[12];
      if (a == esp) {
        strcpy(esp_cell, "TOS");
        tos_row = rows;
      } else {
        format_offset(esp_cell, a, esp);
      }
      format_hex(value_cell, value, mode.wide ? 8 : 4);
      format_offset(ebp_cell, a, ebp);
      const char *cells[3] = {esp_cell, value_cell, ebp_cell};
      gtk_clist_append(list, const_cast<gchar **>(cells));
      auto before = values_before.find(address);
      if (before != values_before.end() && before->second != value)
        gtk_clist_set_foreground(list, rows, const_cast<GdkColor *>(&changed_colour));
      values_now[address] = value;
      rows++;
    }
    if (a < mode.size) break;  // the next element would lie below offset 0
    a -= mode.size;
    if (a < walk.lo) break;
  }
  gtk_clist_thaw(list);
  if (tos_row >= 0) {
    gtk_clist_moveto(list, tos_row, 0, 0.5, 0.0);
    gtk_clist_select_row(list, tos_row, 0);
  }
}
