// The Tables and Search pages against the real Bochs 2.7 through the
// bridge, on the demo floppy at its paged loop (demo/README.md): the second
// stage's GDT, IDT and TSS, the walk of its page tables (the boot sector's
// page mapped again at 400000, pages not present), and searches of
// physical and linear memory for the banner.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bridge_gui_fixture.hpp"
#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "shell/main_window.hpp"
#include "tables/search_page.hpp"
#include "tables/tables_page.hpp"

// What the pages asked the Memory page to dump (their open_dump event,
// which the shell hands to the dump windows).
static std::vector<std::pair<uint32_t, bool>> dumps_asked;
static void keep_dump_asked(uint32_t address, bool linear) { dumps_asked.push_back({address, linear}); }

namespace {

class BridgeTablesTest : public BridgeGuiTest {
 protected:
  void SetUp() override {
    BridgeGuiTest::SetUp();
    for (Breakpoint &b : breakpoints_page().table) b = Breakpoint();
    breakpoints_page().w.count = 0;
    dumps_asked.clear();
  }

  // The real window, its dump requests kept here.
  void build_window() {
    BridgeGuiTest::build_window();
    tables_events.open_dump = keep_dump_asked;
  }

  void show_page(const char *title) {
    GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
    for (int i = 0; i < gtk_notebook_get_n_pages(notebook); i++) {
      GtkWidget *child = gtk_notebook_get_nth_page(notebook, i);
      if (strcmp(gtk_notebook_get_tab_label_text(notebook, child), title) == 0) {
        gtk_notebook_set_current_page(notebook, i);
        return;
      }
    }
    ADD_FAILURE() << "no page " << title;
  }

  // At pm_loop, paging on.
  void run_to_paged_loop() {
    build_window();
    start_bochs();
    add_breakpoint_at(0, "7ca0");
    ASSERT_TRUE(go_until_stopped());
    ASSERT_EQ(current_location().physical_address, 0x7CA0u);
    ASSERT_NE(run_seam().stop.cpu.cr0 & 0x80000000u, 0u) << "paging is on";
  }

  bool table_read(TableShown kind) {
    return pump_until(
        [kind] {
          const TablesPage &p = tables_page();
          return p.view[kind].read_at == p.stops && !long_read_running();
        },
        30000);
  }

  Lines table_rows(GtkWidget *list) {
    int columns = GTK_CLIST(list)->columns;
    return rows(list, columns);
  }

  std::string label(GtkWidget *w) const { return gtk_label_get_text(GTK_LABEL(w)); }

  void translate(const char *typed) {
    type_into(tables_page().linear_entry, typed);
    click(tables_page().translate_button);
  }

  Lines hits() {
    Lines out;
    for (int r = 0; r < row_count(search_page().hit_list); r++) out.push_back(cell(search_page().hit_list, r, 0));
    return out;
  }
};

}  // namespace

TEST_F(BridgeTablesTest, TheSecondStagesTables) {
  run_to_paged_loop();
  size_t before = transcript().size();
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(lines_since(before), Lines{"x /10wx 0x7F00"});
  EXPECT_EQ(label(tables_page().summary), "GDTR 00007F00, limit 0027: 5 descriptors");
  // Bochs marks the descriptors it loaded accessed, and the TSS busy.
  EXPECT_EQ(table_rows(tables_page().list[table_gdt]),
            (Lines{"0|0000|||Null|||",
                   "1|0008|00000000|FFFFFFFF|Code, execute/read, accessed|0|yes|D=1 L=0",
                   "2|0010|00000000|FFFFFFFF|Data, read/write, accessed|0|yes|B=1 L=0",
                   "3|0018|00080000|0000FFFF|Data, read/write|0|yes|B=0 L=0",
                   "4|0020|00007F40|00000067|TSS (32-bit, busy)|0|yes|"}));

  click(tables_page().table_group->buttons[table_idt].button);
  ASSERT_TRUE(table_read(table_idt));
  EXPECT_EQ(label(tables_page().summary), "IDTR 00008000, limit 00FF: 32 gates");
  Lines idt = table_rows(tables_page().list[table_idt]);
  ASSERT_EQ(idt.size(), 32u);
  EXPECT_EQ(idt[0], "00 (0)|#DE Divide error|Interrupt gate (32-bit)|0008:00007EA8|0|yes");
  EXPECT_EQ(idt[1], "01 (1)|#DB Debug|Empty|||");
  EXPECT_EQ(idt[3], "03 (3)|#BP Breakpoint|Trap gate (32-bit)|0008:00007EA0|0|yes");
  for (int v : {6, 8, 13, 14}) EXPECT_EQ(idt[v].substr(idt[v].find("|Interrupt")), "|Interrupt gate (32-bit)|0008:00007EA8|0|yes");
  EXPECT_EQ(idt[31], "1F (31)||Empty|||");

  click(tables_page().table_group->buttons[table_tss].button);
  ASSERT_TRUE(table_read(table_tss));
  EXPECT_EQ(label(tables_page().summary), "TR 0020: TSS (32-bit, busy) at 00007F40, limit 00000067");
  Lines tss = table_rows(tables_page().list[table_tss]);
  ASSERT_EQ(tss.size(), 27u);
  EXPECT_EQ(tss[1], "04|ESP0|00090000");
  EXPECT_EQ(tss[2], "08|SS0|0010");

  click(tables_page().table_group->buttons[table_ldt].button);
  ASSERT_TRUE(table_read(table_ldt));
  EXPECT_EQ(label(tables_page().summary), "No LDT: LDTR is 0000: none is loaded");

  // A step: read again, nothing of the table changed.
  click(tables_page().table_group->buttons[table_gdt].button);
  click(control_bar().step_button);
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(transcript().back(), "x /10wx 0x7F00");
  for (int r = 0; r < 5; r++) EXPECT_FALSE(tables_row_marked(tables_page().list[table_gdt], r)) << r;
}

TEST_F(BridgeTablesTest, WalksThroughTheDemosPageTables) {
  run_to_paged_loop();
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  struct Case {
    const char *typed;
    Lines commands, steps;
    const char *note;
  } cases[] = {
      {"400c00",
       {"xp /1wx 0x10004", "xp /1wx 0x12000"},
       {"PDE|1|00010004|00012003|P RW S|table 00012000", "PTE|0|00012000|00007003|P RW S|4 KiB page 00007000"},
       "Linear 00400C00 is physical 00007C00 (4 KiB page at 00007000)"},
      {"401000",
       {"xp /1wx 0x10004", "xp /1wx 0x12004"},
       {"PDE|1|00010004|00012003|P RW S|table 00012000", "PTE|1|00012004|00000000|not present|"},
       "Linear 00401000 is not mapped: the page table entry 1 (PTE at 00012004) is not present"},
      {"800000",
       {"xp /1wx 0x10008"},
       {"PDE|2|00010008|00000000|not present|"},
       "Linear 00800000 is not mapped: the page directory entry 2 (PDE at 00010008) is not present"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    size_t before = transcript().size();
    translate(c.typed);
    EXPECT_EQ(lines_since(before), c.commands);
    EXPECT_EQ(table_rows(tables_page().walk_list), c.steps);
    EXPECT_EQ(label(tables_page().walk_note), c.note);
  }
  // The loop's own page: identity, whatever bits Bochs set in the entries.
  translate("7ca0");
  EXPECT_EQ(label(tables_page().walk_note), "Linear 00007CA0 is physical 00007CA0 (4 KiB page at 00007000)");
  ASSERT_EQ(row_count(tables_page().walk_list), 2);
  EXPECT_EQ(cell(tables_page().walk_list, 1, 1), "7");
}

TEST_F(BridgeTablesTest, SearchesPhysicalAndLinearMemory) {
  run_to_paged_loop();
  show_page("Search");
  type_into(search_page().pattern_entry, "VUM demo floppy");
  click(search_page().kind_group->buttons[(int)SearchKind::text].button);
  type_into(search_page().from_entry, "0");
  type_into(search_page().to_entry, "fffff");
  click(search_page().space_group->buttons[0].button);
  click(search_page().search_button);
  ASSERT_TRUE(pump_until([] { return !long_read_running(); }, 60000));
  // The banner, and the 16 bytes of it the demo copied to 0600.
  Lines found = hits();
  EXPECT_NE(std::find(found.begin(), found.end(), "00000600"), found.end()) << label(search_page().note);
  EXPECT_NE(std::find(found.begin(), found.end(), "00007D00"), found.end()) << label(search_page().note);

  // Linear 400000 is the boot sector's page again: the banner at 400D00.
  size_t before = transcript().size();
  type_into(search_page().from_entry, "400000");
  type_into(search_page().to_entry, "7fffff");
  click(search_page().space_group->buttons[1].button);
  click(search_page().search_button);
  ASSERT_TRUE(pump_until([] { return !long_read_running(); }, 60000));
  EXPECT_EQ(hits(), Lines{"00400D00"}) << label(search_page().note);
  EXPECT_EQ(label(search_page().note), "1 hit of 56 55 4D 20 64 65 6D 6F 20 66 6C 6F 70 70 79 in linear 00400000-007FFFFF");
  EXPECT_EQ(lines_since(before),
            (Lines{"dump_cpu", "xp /1024wx 0x10000", "xp /1024wx 0x12000", "x /1024wx 0x400000"}));
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 0, 0);
  EXPECT_EQ(dumps_asked, (std::vector<std::pair<uint32_t, bool>>{{0x400D00, true}}));
  // The dialogue is in step.
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu");
  EXPECT_TRUE(debugger_waits());
}
