// Dump windows against the simulated PC's paging guest (sim/README.md):
// a hit of the Search page opens a window there, a linear window tells
// where its first byte lies, and a value changed in a linear window is
// written where the page tables put it, a part on each side of a page
// boundary, or refused with the reason.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "link/link_state.hpp"
#include "points/breakpoints_page.hpp"
#include "support/gui_fixture.hpp"
#include "tables/long_read.hpp"
#include "tables/search_page.hpp"
#include "views/dump_windows.hpp"

namespace {

typedef std::vector<std::string> Lines;

class DumpPagingTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    setenv("VUM_SIM_GUEST", "paging", 1);
  }
  void TearDown() override {
    unsetenv("VUM_SIM_GUEST");
    GuiTest::TearDown();
  }

  // Runs to a physical breakpoint; at 7CE0 paging is on and the guest is done.
  void run_to(const char *address) {
    click(breakpoints_page().w.kind_group->buttons[0].button);
    type_into(breakpoints_page().w.entry, address);
    click(breakpoints_page().w.add_button);
    click(control_bar().go_button);
    ASSERT_TRUE(pump_until([] { return !target_running(); }));
  }

  DumpWindow *open(const std::string &address, const std::string &units, bool linear, uint32_t size,
                   uint32_t format = 0) {
    button_group_select(memory_page().address_space_group, linear ? 1 : 0);
    button_group_select(memory_page().unit_size_group, size);
    button_group_select(memory_page().unit_format_group, format);
    DumpWindow *last = memory_page().windows.last;
    type_into(memory_page().address_entry, address);
    type_into(memory_page().units_entry, units);
    click(memory_page().dump_button);
    return memory_page().windows.last == last ? nullptr : memory_page().windows.last;
  }

  std::string note(DumpWindow *w) const { return gtk_label_get_text(GTK_LABEL(w->note)); }
  std::string message(DumpWindow *w) const { return gtk_label_get_text(GTK_LABEL(w->edit->message)); }

  Lines lines_since(size_t from) const {
    Lines t = transcript();
    return Lines(t.begin() + (long)std::min(from, t.size()), t.end());
  }

  void store(DumpWindow *w, const std::string &text) {
    ASSERT_NE(w->edit, nullptr);
    type_into(w->edit->entry, text);
    activate(w->edit->entry);
  }

  // A reply to a command the test sends itself, as another page would.
  std::string ask(const std::string &command) {
    std::string reply;
    EXPECT_TRUE(exchange(&reply, "%s\n", command.c_str()));
    return reply;
  }

  void search_value(const char *value, const char *from, const char *to, bool linear) {
    type_into(search_page().pattern_entry, value);
    click(search_page().kind_group->buttons[(int)SearchKind::value].button);
    type_into(search_page().from_entry, from);
    type_into(search_page().to_entry, to);
    click(search_page().space_group->buttons[linear ? 1 : 0].button);
    click(search_page().search_button);
    ASSERT_TRUE(pump_until([] { return !long_read_running(); }, 60000));
  }
};

}  // namespace

TEST_F(DumpPagingTest, AClickOnASearchHitOpensADumpWindowThere) {
  build_window();
  start_bochs();
  run_to("7ce0");
  button_group_select(memory_page().unit_size_group, 2);
  search_value("600DF00D", "12ff0", "13fff", false);
  ASSERT_EQ(row_count(search_page().hit_list), 1);
  size_t before = transcript().size();
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 0, 0);
  // The page's size and format, and 256 bytes while Units holds no count.
  EXPECT_EQ(lines_since(before), Lines{"xp /64wx 0x13000"});
  DumpWindow *w = memory_page().windows.last;
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(cell(w->list, 0, 2), "0x600df00d 0x00000000 0x00000000 0x00000000");
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(w->note)) << "a physical window has no note";

  // The count in Units, and a linear hit: the first byte's walk follows the dump.
  type_into(memory_page().units_entry, "8");
  search_value("600DF00D", "800000", "800fff", true);
  ASSERT_EQ(row_count(search_page().hit_list), 1);
  before = transcript().size();
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 0, 0);
  EXPECT_EQ(lines_since(before), (Lines{"x /8wx 0x800000", "xp /1wx 0x10008", "xp /1wx 0x12000"}));
  w = memory_page().windows.last;
  EXPECT_EQ(w->address, 0x800000u);
  EXPECT_EQ(w->address_space, 1u);
  EXPECT_EQ(note(w), "First byte: physical 00013000");
  EXPECT_EQ(entry_text(memory_page().units_entry), "8") << "the entry keeps its count";
}

TEST_F(DumpPagingTest, ALinearWindowTellsWhereItsFirstByteIs) {
  build_window();
  start_bochs();
  // Before the guest turns paging on.
  size_t before = transcript().size();
  DumpWindow *off = open("500", "4", true, 0);
  ASSERT_NE(off, nullptr);
  EXPECT_EQ(lines_since(before), Lines{"x /4bx 0x500"});
  EXPECT_EQ(note(off), "First byte: physical 00000500 (paging off)");
  run_to("7ce0");
  struct Case {
    const char *address;
    Lines sent;
    const char *note;
  } cases[] = {
      {"400010", {"x /4bx 0x400010", "xp /1wx 0x10004"}, "First byte: physical 00C00010"},
      {"800004", {"x /4bx 0x800004", "xp /1wx 0x10008", "xp /1wx 0x12000"}, "First byte: physical 00013004"},
      {"801000", {"x /4bx 0x801000", "xp /1wx 0x10008", "xp /1wx 0x12004"}, "First byte: not mapped (PTE not present)"},
      {"c00000", {"x /4bx 0xC00000", "xp /1wx 0x1000C"}, "First byte: not mapped (PDE not present)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.address);
    before = transcript().size();
    DumpWindow *w = open(c.address, "4", true, 0);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(GTK_WIDGET_VISIBLE(w->note));
    EXPECT_EQ(lines_since(before), c.sent);
    EXPECT_EQ(note(w), c.note);
  }
  // Read again at the next Refresh, with the registers of the last stop.
  before = transcript().size();
  click(off->refresh_button);
  EXPECT_EQ(lines_since(before), (Lines{"x /4bx 0x500", "xp /1wx 0x10000", "xp /1wx 0x11000"}));
  EXPECT_EQ(note(off), "First byte: physical 00000500");
}

TEST_F(DumpPagingTest, AValueAcrossAPageBoundaryIsWrittenInTwoParts) {
  build_window();
  start_bochs();
  run_to("7ce0");
  // Doublewords from 3FFFFA: the second one's last two bytes are on the
  // 4 MiB page at physical C00000.
  DumpWindow *w = open("3ffffa", "2", true, 2);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(edit_dump_value(w, 0, 1));
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(w->edit->what)), "Doubleword at linear 003FFFFE (hex)");
  size_t before = transcript().size();
  store(w, "a1b2c3d4");
  EXPECT_EQ(lines_since(before), (Lines{"xp /1wx 0x10000", "xp /1wx 0x11FFC", "xp /1wx 0x10004",
                                        "setpmem 0x3FFFFE 2 0xC3D4", "setpmem 0xC00000 2 0xA1B2",
                                        "x /2wx 0x3FFFFA", "xp /1wx 0x10000", "xp /1wx 0x11FFC"}));
  EXPECT_EQ(w->edit, nullptr);
  EXPECT_EQ(cell(w->list, 0, 2).substr(11), "0xa1b2c3d4");
  // Where the parts went, as the debugger reads them.
  EXPECT_NE(ask("xp /2bx 0x3FFFFE").find("0xd4\t0xc3"), std::string::npos);
  EXPECT_NE(ask("xp /2bx 0xC00000").find("0xb2\t0xa1"), std::string::npos);
  EXPECT_FALSE(link_seam().debugger_offline);
}

TEST_F(DumpPagingTest, AnUnmappedPageOrARefusalLeavesTheChangeOpenWithTheReason) {
  build_window();
  start_bochs();
  run_to("7ce0");
  DumpWindow *w = open("800000", "4", true, 0);
  ASSERT_NE(w, nullptr);
  // The page goes away after the window was read (as the guest might do).
  ask("setpmem 0x12000 4 0x0");
  ASSERT_TRUE(edit_dump_value(w, 0, 1));
  size_t before = transcript().size();
  store(w, "5a");
  EXPECT_EQ(lines_since(before), (Lines{"xp /1wx 0x10008", "xp /1wx 0x12000"})) << "nothing is written";
  EXPECT_EQ(message(w), "Not stored: Linear 00800001 is not mapped: the page table entry 0 (PTE at 00012000) is not present");
  EXPECT_EQ(entry_text(w->edit->entry), "5a");

  // Mapped past the end of the emulator's memory: the debugger refuses.
  ask("setpmem 0x12000 4 0x1000003");
  before = transcript().size();
  store(w, "5a");
  EXPECT_EQ(lines_since(before), (Lines{"xp /1wx 0x10008", "xp /1wx 0x12000", "setpmem 0x1000001 1 0x5A",
                                        "x /4bx 0x800000", "xp /1wx 0x10008", "xp /1wx 0x12000"}));
  ASSERT_NE(w->edit, nullptr);
  EXPECT_EQ(message(w),
            "The debugger refused: Error: write past the end of memory (0x01000000): 1 byte at 0x01000001");
  EXPECT_EQ(entry_text(w->edit->entry), "5a");
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu") << "the dialogue is in step";
}
