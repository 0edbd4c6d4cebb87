// The Tables page against the simulated PC's paging guest (sim/README.md):
// its GDT, IDT and TSS at the end of the guest, the changes a step makes to
// them, the real-mode vector table, and the walk of linear addresses through
// its page tables (identity, moved, 4 MiB and not present), with the exact
// commands each one sends.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "tables/tables_page.hpp"

namespace {

typedef std::vector<std::string> Lines;

class TablesPageTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    setenv("VUM_SIM_GUEST", "paging", 1);
  }
  void TearDown() override {
    unsetenv("VUM_SIM_GUEST");
    GuiTest::TearDown();
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

  void choose(TableShown kind) {
    click(tables_page().table_group->buttons[kind].button);
  }

  // Runs to a physical breakpoint (set through the Breakpoints page).
  void run_to(const char *address) {
    click(breakpoints_page().w.kind_group->buttons[0].button);
    type_into(breakpoints_page().w.entry, address);
    click(breakpoints_page().w.add_button);
    click(control_bar().go_button);
    ASSERT_TRUE(pump_until([] { return !target_running(); }));
  }

  // Waits until the table shown has been read at the last stop.
  bool table_read(TableShown kind) {
    return pump_until([kind] {
      const TablesPage &p = tables_page();
      return p.view[kind].read_at == p.stops && !long_read_running();
    });
  }

  Lines rows(GtkWidget *list) const {
    Lines out;
    for (int r = 0; r < row_count(list); r++) {
      std::string row;
      for (int c = 0; c < GTK_CLIST(list)->columns; c++) row += (c ? "|" : "") + cell(list, r, c);
      out.push_back(row);
    }
    return out;
  }

  std::vector<int> marked_rows(GtkWidget *list) const {
    std::vector<int> out;
    for (int r = 0; r < row_count(list); r++)
      if (tables_row_marked(list, r)) out.push_back(r);
    return out;
  }

  Lines lines_since(size_t from) const {
    Lines t = transcript();
    return Lines(t.begin() + (long)std::min(from, t.size()), t.end());
  }

  std::string summary() const { return gtk_label_get_text(GTK_LABEL(tables_page().summary)); }
  std::string walk_note() const { return gtk_label_get_text(GTK_LABEL(tables_page().walk_note)); }

  void translate(const char *typed) {
    type_into(tables_page().linear_entry, typed);
    click(tables_page().translate_button);
  }
};

}  // namespace

TEST_F(TablesPageTest, TheGuestsTablesAtItsEnd) {
  build_window();
  for (int k = 0; k < tables_shown; k++) EXPECT_FALSE(sensitive(tables_page().table_group->buttons[k].button));
  EXPECT_FALSE(sensitive(tables_page().translate_button));
  start_bochs();
  EXPECT_TRUE(sensitive(tables_page().refresh_button));
  run_to("7ce0");  // done
  ASSERT_EQ(current_location().physical_address, 0x7CE0u);
  size_t before = transcript().size();
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(lines_since(before), Lines{"x /16wx 0x7D40"});
  EXPECT_EQ(summary(), "GDTR 00007D40, limit 003F: 8 descriptors");
  EXPECT_EQ(rows(tables_page().list[table_gdt]),
            (Lines{"0|0000|||Null|||",
                   "1|0008|00000000|FFFFFFFF|Code, execute/read|0|yes|D=1 L=0",
                   "2|0010|00000000|FFFFFFFF|Data, read/write|0|yes|B=1 L=0",
                   "3|0018|00020000|0000FFFF|Data, read/write|0|yes|B=0 L=0",
                   "4|0020|00000000|0000FFFF|Code, execute/read|0|yes|D=0 L=0",
                   "5|0028|00007D90|00000067|TSS (32-bit, busy)|0|yes|",
                   "6|0030|000B8000|00000FFF|Data, read/write|3|yes|B=0 L=0",
                   "7|0038|00100000|0000FFFF|Data, read/write|0|no|B=0 L=0"}));
  EXPECT_TRUE(marked_rows(tables_page().list[table_gdt]).empty()) << "the first read marks nothing";

  before = transcript().size();
  choose(table_idt);
  ASSERT_TRUE(table_read(table_idt));
  EXPECT_EQ(lines_since(before), Lines{"x /98wx 0x7E00"});
  EXPECT_EQ(summary(), "IDTR 00007E00, limit 0187: 49 gates");
  Lines idt = rows(tables_page().list[table_idt]);
  ASSERT_EQ(idt.size(), 49u);
  EXPECT_EQ(idt[0], "00 (0)|#DE Divide error|Empty|||");
  EXPECT_EQ(idt[2], "02 (2)|NMI|Task gate|TSS 0028|0|yes");
  EXPECT_EQ(idt[3], "03 (3)|#BP Breakpoint|Trap gate (32-bit)|0008:00007CF0|0|yes");
  EXPECT_EQ(idt[8], "08 (8)|#DF Double fault|Interrupt gate (32-bit)|0008:00007D20|0|yes");
  EXPECT_EQ(idt[13], "0D (13)|#GP General protection|Interrupt gate (32-bit)|0008:00007D18|0|yes");
  EXPECT_EQ(idt[14], "0E (14)|#PF Page fault|Interrupt gate (32-bit)|0008:00007D00|0|yes");
  EXPECT_EQ(idt[47], "2F (47)||Empty|||");
  EXPECT_EQ(idt[48], "30 (48)||Interrupt gate (16-bit)|0020:7D28|0|yes");

  before = transcript().size();
  choose(table_tss);
  ASSERT_TRUE(table_read(table_tss));
  EXPECT_EQ(lines_since(before), Lines{"x /26wx 0x7D90"});
  EXPECT_EQ(summary(), "TR 0028: TSS (32-bit, busy) at 00007D90, limit 00000067");
  Lines tss = rows(tables_page().list[table_tss]);
  ASSERT_EQ(tss.size(), 27u);
  EXPECT_EQ(tss[0], "00|Link|0000");
  EXPECT_EQ(tss[1], "04|ESP0|0000FFF0");
  EXPECT_EQ(tss[2], "08|SS0|0018");
  EXPECT_EQ(tss[26], "66|I/O map base|0000");

  before = transcript().size();
  choose(table_ldt);
  ASSERT_TRUE(table_read(table_ldt));
  EXPECT_EQ(lines_since(before), Lines{}) << "no LDT: nothing to read";
  EXPECT_EQ(summary(), "No LDT: LDTR is 0000: none is loaded");
  EXPECT_EQ(row_count(tables_page().list[table_ldt]), 0);

  // Back to a table read at this stop: shown as read, not read again.
  before = transcript().size();
  choose(table_gdt);
  EXPECT_EQ(lines_since(before), Lines{});
  EXPECT_EQ(summary(), "GDTR 00007D40, limit 003F: 8 descriptors");
  // The dialogue is in step afterwards.
  Lines expected = transcript();
  for (const char *l : {"s", "dump_cpu", "x /16wx 0x7D40"}) expected.push_back(l);
  click(control_bar().step_button);
  EXPECT_TRUE(wait_for_transcript(expected));
}

TEST_F(TablesPageTest, ReadAgainAtEachStopWhileShownWithTheRowsThatChangedMarked) {
  build_window();
  start_bochs();
  run_to("7c4b");  // ltr ax
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  GtkWidget *gdt = tables_page().list[table_gdt];
  EXPECT_EQ(cell(gdt, 5, 4), "TSS (32-bit, available)");

  // ltr marks the TSS busy: that row alone changed.
  size_t before = transcript().size();
  click(control_bar().step_button);
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(lines_since(before), (Lines{"s", "dump_cpu", "x /16wx 0x7D40"}));
  EXPECT_EQ(cell(gdt, 5, 4), "TSS (32-bit, busy)");
  EXPECT_EQ(marked_rows(gdt), std::vector<int>{5});

  // Nothing changes at the next step: no mark.
  click(control_bar().step_button);
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_TRUE(marked_rows(gdt).empty());

  // Hidden, the page reads nothing at a stop; shown again, it reads.
  show_page("History");
  before = transcript().size();
  click(control_bar().step_button);
  pump_for(200);
  EXPECT_EQ(lines_since(before), (Lines{"s", "dump_cpu"}));
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(lines_since(before), (Lines{"s", "dump_cpu", "x /16wx 0x7D40"}));
}

TEST_F(TablesPageTest, TheRealModeVectorTable) {
  unsetenv("VUM_SIM_GUEST");  // the demo: the BIOS's vectors
  build_window();
  start_bochs();
  show_page("Tables");
  // GDTR as the processor starts: base 0, limit FFFF, all of it read.
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_EQ(row_count(tables_page().list[table_gdt]), 8192);
  choose(table_idt);
  ASSERT_TRUE(table_read(table_idt));
  EXPECT_EQ(transcript().back(), "x /256wx 0x0");
  EXPECT_EQ(summary(), "IDTR 00000000, limit 03FF: 256 real-mode vectors");
  Lines ivt = rows(tables_page().list[table_idt]);
  ASSERT_EQ(ivt.size(), 256u);
  EXPECT_EQ(ivt[0x10], "10 (16)||Vector|F000:FF53 (FFF53)||") << "int 0x10 goes to the BIOS's iret";
}

TEST_F(TablesPageTest, WalksThroughTheGuestsPageTables) {
  build_window();
  start_bochs();
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  // Paging is off at the first stop: nothing is read.
  size_t before = transcript().size();
  translate("7c00");
  EXPECT_EQ(lines_since(before), Lines{});
  EXPECT_EQ(walk_note(), "Paging is off (CR0.PG clear): linear 00007C00 is physical 00007C00");
  EXPECT_EQ(row_count(tables_page().walk_list), 0);

  run_to("7ce0");
  // The address typed is walked again at the stop.
  EXPECT_TRUE(pump_until([&] { return walk_note() == "Linear 00007C00 is physical 00007C00 (4 KiB page at 00007000)"; }));
  struct Case {
    const char *typed;
    Lines commands, steps;
    const char *note;
  } cases[] = {
      {"800000",
       {"xp /1wx 0x10008", "xp /1wx 0x12000"},
       {"PDE|2|00010008|00012003|P RW S|table 00012000", "PTE|0|00012000|00013003|P RW S|4 KiB page 00013000"},
       "Linear 00800000 is physical 00013000 (4 KiB page at 00013000)"},
      {"0x00401234",
       {"xp /1wx 0x10004"},
       {"PDE|1|00010004|00C00083|P RW S PS|4 MiB page 00C00000"},
       "Linear 00401234 is physical 00C01234 (4 MiB page at 00C00000)"},
      {"801000",
       {"xp /1wx 0x10008", "xp /1wx 0x12004"},
       {"PDE|2|00010008|00012003|P RW S|table 00012000", "PTE|1|00012004|00000000|not present|"},
       "Linear 00801000 is not mapped: the page table entry 1 (PTE at 00012004) is not present"},
      {"c00000",
       {"xp /1wx 0x1000C"},
       {"PDE|3|0001000C|00000000|not present|"},
       "Linear 00C00000 is not mapped: the page directory entry 3 (PDE at 0001000C) is not present"},
      {"500",
       {"xp /1wx 0x10000", "xp /1wx 0x11000"},
       {"PDE|0|00010000|00011003|P RW S|table 00011000", "PTE|0|00011000|00000003|P RW S|4 KiB page 00000000"},
       "Linear 00000500 is physical 00000500 (4 KiB page at 00000000)"},
      {"zz", {}, {}, "\"zz\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"1:2", {}, {}, "Type a plain address here, without a segment (SEGMENT:OFFSET is for virtual breakpoints)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.typed);
    before = transcript().size();
    translate(c.typed);
    EXPECT_EQ(lines_since(before), c.commands);
    EXPECT_EQ(rows(tables_page().walk_list), c.steps);
    EXPECT_EQ(walk_note(), c.note);
  }
}

TEST_F(TablesPageTest, InsensitiveWhileTheTargetRuns) {
  build_window();
  start_bochs();
  show_page("Tables");
  ASSERT_TRUE(table_read(table_gdt));
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  for (GtkWidget *w : {tables_page().refresh_button, tables_page().translate_button, tables_page().linear_entry,
                       tables_page().table_group->buttons[1].button})
    EXPECT_FALSE(sensitive(w));
  // The debugger reads "c" in its own time.
  ASSERT_TRUE(pump_until([this] { return !transcript().empty() && transcript().back() == "c"; }, 5000));
  size_t before = transcript().size();
  refresh_tables();
  translate_linear_address();
  EXPECT_EQ(lines_since(before), Lines{}) << "nothing is sent while the target runs";
  click(control_bar().stop_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_TRUE(sensitive(tables_page().refresh_button));
  // The stop is read, and the table with it.
  ASSERT_TRUE(table_read(table_gdt));
  EXPECT_TRUE(debugger_waits());
}
