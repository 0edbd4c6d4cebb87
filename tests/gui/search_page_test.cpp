// The Search page against the simulated PC: a value in physical memory and
// through the paging guest's page tables, text in either case, what it
// refuses, a long search shown with progress, cancelled, or ended by
// SIGTERM, and a click on a hit asking for a dump there.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "exec/control_bar.hpp"
#include "exec/run_control.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "tables/search_page.hpp"

// What the pages asked the Memory page to dump (their open_dump event,
// which the shell hands to the dump windows).
static std::vector<std::pair<uint32_t, bool>> dumps_asked;
static void keep_dump_asked(uint32_t address, bool linear) { dumps_asked.push_back({address, linear}); }

namespace {

typedef std::vector<std::string> Lines;

class SearchPageTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    setenv("VUM_SIM_GUEST", "paging", 1);
    dumps_asked.clear();
  }
  void TearDown() override {
    unsetenv("VUM_SIM_GUEST");
    unsetenv("VUM_SIM_DELAY_MS");
    GuiTest::TearDown();
  }

  // The real window, its dump requests kept here.
  void build_window() {
    GuiTest::build_window();
    tables_events.open_dump = keep_dump_asked;
  }

  void run_to(const char *address) {
    click(breakpoints_page().w.kind_group->buttons[0].button);
    type_into(breakpoints_page().w.entry, address);
    click(breakpoints_page().w.add_button);
    click(control_bar().go_button);
    ASSERT_TRUE(pump_until([] { return !target_running(); }));
  }

  void search(const char *find, SearchKind kind, const char *from, const char *to, bool linear, bool fold = false) {
    type_into(search_page().pattern_entry, find);
    click(search_page().kind_group->buttons[(int)kind].button);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(search_page().case_button), fold);
    type_into(search_page().from_entry, from);
    type_into(search_page().to_entry, to);
    click(search_page().space_group->buttons[linear ? 1 : 0].button);
    click(search_page().search_button);
  }

  bool search_over(int timeout_ms = 60000) {
    return pump_until([] { return !long_read_running(); }, timeout_ms);
  }

  Lines hits() const {
    Lines out;
    for (int r = 0; r < row_count(search_page().hit_list); r++)
      out.push_back(cell(search_page().hit_list, r, 0));
    return out;
  }

  std::string note() const { return gtk_label_get_text(GTK_LABEL(search_page().note)); }

  Lines lines_since(size_t from) const {
    Lines t = transcript();
    return Lines(t.begin() + (long)std::min(from, t.size()), t.end());
  }
};

}  // namespace

TEST_F(SearchPageTest, AValueInPhysicalMemory) {
  build_window();
  EXPECT_FALSE(sensitive(search_page().search_button));
  start_bochs();
  EXPECT_TRUE(sensitive(search_page().search_button));
  EXPECT_FALSE(sensitive(search_page().case_button)) << "letter case is for text";
  run_to("7ce0");
  size_t before = transcript().size();
  search("600DF00D", SearchKind::value, "0", "ffffff", false);
  ASSERT_TRUE(search_over());
  Lines sent = lines_since(before);
  ASSERT_EQ(sent.size(), 1024u) << "16 MiB in reads of 16 KiB";
  EXPECT_EQ(sent.front(), "xp /4096wx 0x0");
  EXPECT_EQ(sent[1], "xp /4096wx 0x4000");
  EXPECT_EQ(sent.back(), "xp /4096wx 0xFFC000");
  EXPECT_EQ(hits(), (Lines{"00007CC6", "00013000"}));
  EXPECT_EQ(cell(search_page().hit_list, 1, 1), "0D F0 0D 60 00 00 00 00 00 00 00 00 00 00 00 00");
  EXPECT_EQ(cell(search_page().hit_list, 0, 2).substr(0, 4), "...`");
  EXPECT_EQ(note(), "2 hits of 0D F0 0D 60 in physical 00000000-00FFFFFF");
  // A click on a hit asks for a dump there, and can be made again.
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 1, 0);
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 1, 0);
  EXPECT_EQ(dumps_asked, (std::vector<std::pair<uint32_t, bool>>{{0x13000, false}, {0x13000, false}}));
}

TEST_F(SearchPageTest, AValueInLinearMemoryThroughThePageTables) {
  build_window();
  start_bochs();
  run_to("7ce0");
  size_t before = transcript().size();
  search("600df00d", SearchKind::value, "0", "ffffffff", true);
  ASSERT_TRUE(search_over());
  Lines sent = lines_since(before);
  // The registers, the directory, the identity table, its 4 MiB and the
  // large page's in 16 KiB, the second table and its one page.
  ASSERT_EQ(sent.size(), 1u + 1u + 1u + 256u + 256u + 1u + 1u);
  EXPECT_EQ(Lines(sent.begin(), sent.begin() + 4),
            (Lines{"dump_cpu", "xp /1024wx 0x10000", "xp /1024wx 0x11000", "x /4096wx 0x0"}));
  EXPECT_EQ(sent[259], "x /4096wx 0x400000");
  EXPECT_EQ(Lines(sent.end() - 2, sent.end()), (Lines{"xp /1024wx 0x12000", "x /1024wx 0x800000"}));
  EXPECT_EQ(hits(), (Lines{"00007CC6", "00013000", "00800000"}));
  EXPECT_EQ(note(), "3 hits of 0D F0 0D 60 in linear 00000000-FFFFFFFF");
  gtk_clist_select_row(GTK_CLIST(search_page().hit_list), 2, 0);
  EXPECT_EQ(dumps_asked, (std::vector<std::pair<uint32_t, bool>>{{0x800000, true}}));

  // The 4 MiB page holds what was written through it.
  search("CAFEBABE", SearchKind::value, "400000", "7fffff", true);
  ASSERT_TRUE(search_over());
  EXPECT_EQ(hits(), (Lines{"00400000"}));
}

TEST_F(SearchPageTest, TextInEitherCaseAndBytes) {
  unsetenv("VUM_SIM_GUEST");  // the demo: "VUM demo" at 7C61
  build_window();
  start_bochs();
  search("vum DEMO", SearchKind::text, "7c00", "7dff", false, true);
  ASSERT_TRUE(search_over());
  EXPECT_EQ(hits(), (Lines{"00007C61"}));
  EXPECT_EQ(cell(search_page().hit_list, 0, 2).substr(0, 8), "VUM demo");
  EXPECT_EQ(transcript().back(), "xp /128wx 0x7C00");
  search("vum DEMO", SearchKind::text, "7c00", "7dff", false, false);
  ASSERT_TRUE(search_over());
  EXPECT_EQ(hits(), Lines{});
  EXPECT_EQ(note(), "0 hits of 76 75 6D 20 44 45 4D 4F in physical 00007C00-00007DFF");
  // cli; xor ax, ax: FA 31 C0 at the start of the demo, an odd range read in bytes.
  search("fa 31 c?", SearchKind::bytes, "7bff", "7c0f", false);
  ASSERT_TRUE(search_over());
  EXPECT_EQ(hits(), (Lines{"00007C00"}));
  EXPECT_EQ(transcript().back(), "xp /17bx 0x7BFF");
}

TEST_F(SearchPageTest, WhatIsRefusedSendsNothing) {
  build_window();
  start_bochs();
  struct Case {
    const char *find, *from, *to;
    SearchKind kind;
    const char *note;
  } cases[] = {
      {"", "0", "ffff", SearchKind::bytes, "Type the bytes to find in hexadecimal, such as CD 10"},
      {"cd 1", "0", "ffff", SearchKind::bytes, "Type two hexadecimal digits for each byte: \"1\""},
      {"abc", "", "ffff", SearchKind::text, "From: Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {"abc", "0", "start", SearchKind::text, "To: \"start\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"abc", "2000", "1fff", SearchKind::text, "The range ends before it begins: To is the last address searched"},
      {"1;q", "0", "ffff", SearchKind::value, "\"1;q\" is no value: type hexadecimal, such as 600DF00D or 0x600df00d"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.find);
    size_t before = transcript().size();
    search(c.find, c.kind, c.from, c.to, false);
    EXPECT_FALSE(long_read_running());
    EXPECT_EQ(lines_since(before), Lines{});
    EXPECT_EQ(note(), c.note);
  }
}

TEST_F(SearchPageTest, TheHitsStopAtTheMost) {
  build_window();
  start_bochs();
  search("00", SearchKind::bytes, "100000", "10ffff", false);  // memory no one wrote
  ASSERT_TRUE(search_over());
  EXPECT_EQ(row_count(search_page().hit_list), (int)search_hits_most);
  EXPECT_EQ(note(), "4096 hits of 00 in physical 00100000-0010FFFF; the search stops at 4096 hits");
}

TEST_F(SearchPageTest, ALongSearchShowsProgressAndCanBeCancelled) {
  setenv("VUM_SIM_DELAY_MS", "3", 1);
  build_window();
  start_bochs();
  gint64 started = g_get_monotonic_time();
  search("600DF00D", SearchKind::value, "0", "ffffff", false);
  ASSERT_TRUE(long_read_running()) << "1024 reads of 3 ms and more are not over at once";
  // Meanwhile nothing else may ask the debugger.
  for (GtkWidget *w : {control_bar().step_button, control_bar().go_button, breakpoints_page().w.add_button,
                       search_page().search_button, main_window().refresh_all_button})
    EXPECT_FALSE(sensitive(w));
  ASSERT_TRUE(pump_until([] { return GTK_WIDGET_VISIBLE(search_page().progress.box); }, 5000));
  EXPECT_GE(g_get_monotonic_time() - started, long_read_patience_ms * 1000) << "not before the patience is out";
  EXPECT_TRUE(sensitive(search_page().progress.cancel_button));
  std::string progress = gtk_label_get_text(GTK_LABEL(search_page().progress.label));
  EXPECT_EQ(progress.substr(0, 9), "Searched ") << progress;
  EXPECT_NE(progress.find(" of 16 MiB: "), std::string::npos) << progress;
  double fraction = gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(search_page().progress.bar));
  EXPECT_GT(fraction, 0.0);
  EXPECT_LT(fraction, 1.0);

  click(search_page().progress.cancel_button);
  EXPECT_FALSE(long_read_running());
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(search_page().progress.box));
  EXPECT_NE(note().find("in physical 00000000-00FFFFFF; cancelled after "), std::string::npos) << note();
  for (GtkWidget *w : {control_bar().step_button, control_bar().go_button, breakpoints_page().w.add_button,
                       search_page().search_button, main_window().refresh_all_button})
    EXPECT_TRUE(sensitive(w));
  // The dialogue is in step: no more reads, and a step is answered.
  Lines expected = transcript();
  EXPECT_EQ(expected.back().substr(0, 11), "xp /4096wx ");
  expected.push_back("s");
  expected.push_back("dump_cpu");
  click(control_bar().step_button);
  EXPECT_TRUE(wait_for_transcript(expected));
  EXPECT_TRUE(debugger_waits());
}

TEST_F(SearchPageTest, SigtermDuringALongSearchEndsVumWithinASecond) {
  setenv("VUM_SIM_DELAY_MS", "3", 1);
  build_window();
  start_bochs();
  search("600DF00D", SearchKind::value, "0", "ffffff", false);
  ASSERT_TRUE(pump_until([] { return GTK_WIDGET_VISIBLE(search_page().progress.box); }, 5000));
  gint64 signalled = g_get_monotonic_time();
  raise(SIGTERM);
  ASSERT_TRUE(pump_until([] { return main_window().main_loop_left != 0; }, 1000));
  EXPECT_LT(g_get_monotonic_time() - signalled, 1000000);
  EXPECT_FALSE(long_read_running());
  EXPECT_FALSE(debugger_online());
  pump_for(100);
  EXPECT_EQ(transcript().back(), "q") << "nothing is read once VUM ends";
}
