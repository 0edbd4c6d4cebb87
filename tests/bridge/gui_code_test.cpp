// The Code and Console pages, symbols and the status line end to end: VUM's
// window in front of the real Bochs 2.7 through the bridge, on the demo
// floppy and the symbol file the build makes beside it (demo/README.md
// lists the addresses).
#include <string>
#include <vector>

#include "bridge_gui_fixture.hpp"
#include "code/code_page.hpp"
#include "console/console_page.hpp"
#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "history/history.hpp"
#include "shell/main_window.hpp"
#include "shell/status_line.hpp"
#include "text/disasm_scan.hpp"
#include "text/symbols.hpp"

namespace {

const std::string demo_symbols = std::string(VUM_BUILD_DIR) + "/demo/demo.sym";

void show_page(const char *title) {
  GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
  for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++)
    if (strcmp(gtk_notebook_get_tab_label_text(notebook, gtk_notebook_get_nth_page(notebook, i)), title) == 0)
      gtk_notebook_set_current_page(notebook, i);
}

class BridgeCodeTest : public BridgeGuiTest {
 protected:
  void SetUp() override {
    BridgeGuiTest::SetUp();
    clear_symbols();
  }

  int row_of(uint32_t linear) {
    for (size_t i = 0; i < code_page().rows.size(); i++)
      if (code_page().rows[i].line.address == linear) return (int)i;
    return -1;
  }

  int current_row() {
    for (size_t i = 0; i < code_page().rows.size(); i++)
      if (code_page().rows[i].current) return (int)i;
    return -1;
  }

  // The debugger's own listing from an address known to begin an instruction.
  std::vector<DisasmLine> truth(uint32_t start, uint32_t count) {
    std::string reply;
    EXPECT_TRUE(exchange(&reply, "u /%u 0x%X\n", count, start));
    DisasmReply r;
    scan_disasm_reply(reply, &r);
    EXPECT_FALSE(r.error) << reply;
    return r.lines;
  }

  // The rows from `start` (a label) to the current one are the instructions
  // read from there, at least `least` of them before the current one.
  void expect_rows_read_from(uint32_t start, int least) {
    int current = current_row();
    ASSERT_GE(current, 1);
    int first = 0;
    while (first < current && code_page().rows[(size_t)first].line.address < start) first++;
    EXPECT_GE(current - first, least);
    std::vector<DisasmLine> known = truth(start, 64);
    size_t k = 0;
    while (k < known.size() && known[k].address != code_page().rows[(size_t)first].line.address) k++;
    ASSERT_LT(k + (size_t)(current - first), known.size()) << "a row is no instruction read from the label";
    for (int r = first; r <= current; r++, k++) {
      SCOPED_TRACE(r);
      EXPECT_EQ(code_page().rows[(size_t)r].line.address, known[k].address);
      EXPECT_STREQ(code_page().rows[(size_t)r].line.text, known[k].text);
    }
  }

  // The Virtual column of the History's last instruction row.
  std::string last_history_place() {
    for (int r = row_count(history_page().list) - 1; r >= 0; r--)
      if (!cell(history_page().list, r, 1).empty()) return cell(history_page().list, r, 1);
    return "";
  }

  std::string status() { return status_line_text(); }

  // Lets the listing a stop asked for be read (once the main loop is idle).
  void settle() { ASSERT_TRUE(pump_until([] { return !code_page().listing_waiting; })); }
};

}  // namespace

TEST_F(BridgeCodeTest, ListingSymbolsRunToHereAndBreakpointsOnTheDemoFloppy) {
  build_window();
  load_symbols_file(demo_symbols.c_str());
  ASSERT_GT(symbol_count(), 20u);
  EXPECT_TRUE(history_has("Loaded " + std::to_string(symbol_count()) + " symbols from " + demo_symbols));
  start_bochs();
  // The first stop is in the BIOS, far above every label of the floppy.
  EXPECT_EQ(entry_text(control_bar().physical_entry), "000FE05B");
  EXPECT_EQ(entry_text(control_bar().symbol_entry), "");
  EXPECT_EQ(status(), "Real mode, paging off    t=1");
  show_page("Code");
  ASSERT_GE(current_row(), 0);
  EXPECT_EQ(cell(code_page().list, current_row(), 3), "F000:0000E05B");
  EXPECT_EQ(cell(code_page().list, current_row(), 6), "");

  // To the boot sector, with a breakpoint typed as a name.
  add_breakpoint_at(0, "start");
  ASSERT_EQ(rows(breakpoints_page().w.list, 3), Lines({"|Physical|00007C00 <start>"}));
  ASSERT_TRUE(go_until_stopped(30000));
  settle();
  EXPECT_EQ(entry_text(control_bar().symbol_entry), "start");
  int current = current_row();
  ASSERT_GE(current, 0);
  EXPECT_EQ(code_page().rows[(size_t)current].line.address, 0x7c00u);
  EXPECT_EQ(cell(code_page().list, current, 1), "\u25b6");
  EXPECT_EQ(cell(code_page().list, current, 3), "0000:00007C00");
  EXPECT_EQ(cell(code_page().list, current, 5), "cli");
  EXPECT_EQ(cell(code_page().list, current, 6), "start");
  EXPECT_EQ(code_page().rows.size(), (size_t)current + 1 + lines_after_target);

  // Run to Here at count (7C20): the breakpoint is gone after the stop.
  int count = row_of(0x7c20);
  ASSERT_GE(count, 0);
  EXPECT_EQ(cell(code_page().list, count, 6), "count");
  gtk_clist_select_row(GTK_CLIST(code_page().list), count, 0);
  size_t from = transcript().size();
  run_to_here();
  ASSERT_TRUE(pump_until([] { return !target_running(); }, 20000));
  settle();
  EXPECT_EQ(current_location().physical_address, 0x7c20u);
  Lines sent = lines_since(from);
  ASSERT_GE(sent.size(), 5u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 5), (Lines{"pb 0x7C20", "info break", "c", "dump_cpu", "d 2"}));
  std::string reply;
  ASSERT_TRUE(exchange(&reply, "info break\n"));
  EXPECT_EQ(reply.find("0x00007c20"), std::string::npos) << reply;
  EXPECT_EQ(entry_text(control_bar().symbol_entry), "count");
  expect_rows_read_from(0x7c00, 8);

  // Go to a name; a breakpoint there from the listing; Go stops on it.
  type_into(code_page().entry, "pm_loop");
  click(code_page().go_to_button);
  int loop = row_of(0x7ca0);
  ASSERT_GE(loop, 0);
  EXPECT_EQ(code_page().selected_row, loop);
  EXPECT_EQ(cell(code_page().list, loop, 6), "pm_loop");
  click(code_page().toggle_button);
  EXPECT_EQ(cell(code_page().list, loop, 0), "\u25cf");
  ASSERT_TRUE(go_until_stopped(30000));
  settle();
  EXPECT_EQ(current_location().physical_address, 0x7ca0u);
  EXPECT_EQ(status().substr(0, 39), "Protected mode, 32-bit, paging on    t=");
  current = current_row();
  ASSERT_GE(current, 8) << "at least 8 instructions before pm_loop";
  EXPECT_EQ(cell(code_page().list, current, 0), "\u25cf");
  EXPECT_EQ(cell(code_page().list, current, 1), "\u25b6");
  EXPECT_EQ(cell(code_page().list, current, 2), "00007CA0");
  EXPECT_EQ(cell(code_page().list, current, 3), "0008:00007CA0");
  EXPECT_EQ(cell(code_page().list, current, 6), "pm_loop");
  expect_rows_read_from(0x7c80, 8);
  EXPECT_EQ(last_history_place(), "0008:00007CA0 <pm_loop>");
  // Physical breakpoints are named only while paging is off.
  EXPECT_EQ(rows(breakpoints_page().w.list, 3), Lines({"|Physical|00007C00", "X|Physical|00007CA0"}));

  // The breakpoint toggled off again.
  gtk_clist_select_row(GTK_CLIST(code_page().list), current, 0);
  click(code_page().toggle_button);
  EXPECT_EQ(cell(code_page().list, current, 0), "");
  EXPECT_EQ(rows(breakpoints_page().w.list, 3), Lines({"|Physical|00007C00"}));
}

TEST_F(BridgeCodeTest, ConsoleThroughTheBridge) {
  build_window();
  start_bochs();
  add_breakpoint_at(0, "7c00");
  ASSERT_TRUE(go_until_stopped(30000));
  show_page("Console");
  type_into(console_page().entry, "u /2 0x7c00");
  activate(console_page().entry);
  std::string text = console_text();
  EXPECT_EQ(text.substr(0, 14), "> u /2 0x7c00\n");
  DisasmReply reply;
  scan_disasm_reply(text.substr(14), &reply);
  ASSERT_EQ(reply.lines.size(), 2u) << text;
  EXPECT_EQ(reply.lines[0].address, 0x7c00u);
  EXPECT_STREQ(reply.lines[0].text, "cli");

  type_into(console_page().entry, "s");
  activate(console_page().entry);
  EXPECT_EQ(current_location().physical_address, 0x7c01u);
  EXPECT_NE(console_text().find("Stopped at 0000:00007C01 (00007C01): "), std::string::npos) << console_text();

  size_t from = transcript().size();
  type_into(console_page().entry, "quit");
  activate(console_page().entry);
  EXPECT_EQ(lines_since(from), Lines{});
  EXPECT_FALSE(link_seam().debugger_offline);
}
