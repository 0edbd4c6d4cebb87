// Breakpoints and watchpoints against the simulated PC's demo program,
// through real pipes: added from the pages, listed, hit by Go, removed, and
// set again in a newly started debugger, with the exact dialogue.
#include <signal.h>

#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "exec/stop_reports.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"

namespace {

// Addresses in the simulated PC's demo (`bochs --help`).
const uint32_t demo_set_count = 0x7C10;  // mov cx, 5: after the call to clear
const uint32_t demo_clear = 0x7C4B;      // clear
const uint32_t demo_copy = 0x7C2A;       // rep movsb: writes the copy at 0x600
const uint32_t demo_after_compare = 0x7C31;  // after cmp byte [0x600]: reads it
const uint32_t demo_farsub = 0x7C5A;     // farsub, reached by a far call with cs 0

typedef std::vector<std::string> Lines;

class PointsEndToEndTest : public GuiTest {
 protected:
  Lines breakpoint_rows() {
    Lines out;
    for (int r = 0; r < row_count(breakpoint_list); r++)
      out.push_back(cell(breakpoint_list, r, 0) + "|" + cell(breakpoint_list, r, 1) + "|" +
                    cell(breakpoint_list, r, 2));
    return out;
  }

  Lines watchpoint_rows() {
    Lines out;
    for (int r = 0; r < row_count(watchpoint_list); r++)
      out.push_back(cell(watchpoint_list, r, 0) + "|" + cell(watchpoint_list, r, 1) + "|" +
                    cell(watchpoint_list, r, 2) + "|" + cell(watchpoint_list, r, 3));
    return out;
  }

  // The "Last Stop" column of a list, top to bottom.
  Lines marks(GtkWidget *list) {
    Lines out;
    for (int r = 0; r < row_count(list); r++) out.push_back(cell(list, r, 0));
    return out;
  }

  // One breakpoint of each kind and a read and a write watchpoint on the
  // copy at 0x600, typed into the pages as a user would.
  void add_one_of_each() {
    type_into(breakpoint_entry, "0x7c10");
    click(add_breakpoint_button);
    click(breakpoint_kind_group->buttons[1].button);
    type_into(breakpoint_entry, "0x7c4b");
    activate(breakpoint_entry);
    click(breakpoint_kind_group->buttons[2].button);
    type_into(breakpoint_entry, "0x0000:0x7c5a");
    click(add_breakpoint_button);
    type_into(watchpoint_entry, "0x600");
    click(add_watchpoint_button);
    click(watchpoint_kind_group->buttons[1].button);
    type_into(watchpoint_entry, "0x600");
    activate(watchpoint_entry);
  }

  const Lines start_lines = {"s", "dump_cpu", "info break", "watch"};
  const Lines add_lines = {"pb 0x7c10",        "info break", "lb 0x7c4b",         "info break",
                           "vb 0x0000:0x7c5a", "info break", "watch read 0x600",  "watch",
                           "watch write 0x600", "watch"};
  const Lines all_breakpoints = {"|Physical|00007C10", "|Linear|00007C4B",
                                 "|Virtual|0000:00007C5A"};
  const Lines both_watchpoints = {"|Read|00000600|00000000", "|Write|00000600|00000000"};

  static Lines join(std::initializer_list<Lines> parts) {
    Lines out;
    for (const Lines &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  }

  bool go_until_stopped() {
    click(go_button);
    return pump_until([] { return target_running == 0; });
  }

  void kill_bochs() {
    click(start_button);
    ASSERT_EQ(debugger_offline, 1);
  }
};

}  // namespace

TEST_F(PointsEndToEndTest, EachKindIsListedAndMarkedWhenGoStopsOnIt) {
  build_window();
  start_bochs();
  add_one_of_each();
  EXPECT_EQ(breakpoint_rows(), all_breakpoints);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  EXPECT_EQ(entry_text(breakpoint_entry), "");
  EXPECT_EQ(entry_text(watchpoint_entry), "");

  struct Stop {
    uint32_t at;
    const char *message;
    GtkWidget *list;
    int row;
  } stops[] = {
      {demo_clear, "Stopped on a breakpoint", breakpoint_list, 1},
      {demo_set_count, "Stopped on a breakpoint", breakpoint_list, 0},
      {demo_copy, "Stopped on a watchpoint", watchpoint_list, 1},        // the write
      {demo_after_compare, "Stopped on a watchpoint", watchpoint_list, 0},  // the read
      {demo_farsub, "Stopped on a breakpoint", breakpoint_list, 2},
  };
  for (const Stop &s : stops) {
    SCOPED_TRACE(s.at);
    ASSERT_TRUE(go_until_stopped());
    EXPECT_EQ(stop_location.physical_address, s.at);
    EXPECT_EQ(history_texts().back(), s.message);
    Lines expected(3, "");
    if (s.list == watchpoint_list) expected.resize(2);
    expected[s.row] = "X";
    EXPECT_EQ(marks(s.list), expected);
    bool on_breakpoint = s.list == breakpoint_list;
    EXPECT_EQ(on_breakpoint ? breakpoint_selected_row : watchpoint_selected_row, s.row);
    GList *selection = GTK_CLIST(s.list)->selection;
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(GPOINTER_TO_INT(selection->data), s.row);
    EXPECT_TRUE(sensitive(on_breakpoint ? remove_breakpoint_button : remove_watchpoint_button));
    EXPECT_TRUE(sensitive(s.list));
  }
  // A stop redraws the list from its table: the debugger is not asked again.
  EXPECT_TRUE(wait_for_transcript(join({start_lines, add_lines, {"c", "dump_cpu", "c", "dump_cpu", "c", "dump_cpu", "c", "dump_cpu", "c", "dump_cpu"}})));
}

TEST_F(PointsEndToEndTest, RemoveOneThenRemoveAll) {
  build_window();
  start_bochs();
  add_one_of_each();

  gtk_clist_select_row(GTK_CLIST(breakpoint_list), 2, 0);
  click(remove_breakpoint_button);
  EXPECT_EQ(breakpoint_rows(), (Lines{all_breakpoints[0], all_breakpoints[1]}));
  gtk_clist_select_row(GTK_CLIST(watchpoint_list), 1, 0);
  click(remove_watchpoint_button);
  EXPECT_EQ(watchpoint_rows(), (Lines{both_watchpoints[0]}));
  EXPECT_FALSE(sensitive(remove_breakpoint_button));
  EXPECT_FALSE(sensitive(remove_watchpoint_button));

  click(remove_all_breakpoints_button);
  EXPECT_EQ(row_count(breakpoint_list), 0);
  EXPECT_FALSE(sensitive(remove_all_breakpoints_button));
  click(remove_all_watchpoints_button);
  EXPECT_EQ(row_count(watchpoint_list), 0);
  EXPECT_FALSE(sensitive(remove_all_watchpoints_button));

  EXPECT_TRUE(wait_for_transcript(join(
      {start_lines, add_lines,
       {"d 3", "info break", "unwatch write 0x600", "watch", "d 1", "info break", "d 2",
        "info break", "unwatch", "watch"}})));
}

TEST_F(PointsEndToEndTest, StartingAgainSetsThemAgainUnderNewNumbers) {
  build_window();
  start_bochs();
  add_one_of_each();
  // Without the first breakpoint, the new debugger numbers the others 1 and 2.
  gtk_clist_select_row(GTK_CLIST(breakpoint_list), 0, 0);
  click(remove_breakpoint_button);
  ASSERT_EQ(breakpoint_table[0].number, 2u);
  ASSERT_EQ(breakpoint_table[1].number, 3u);
  const Lines kept = {all_breakpoints[1], all_breakpoints[2]};

  kill_bochs();
  // Offline, the lists keep what they showed.
  EXPECT_EQ(breakpoint_rows(), kept);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  EXPECT_FALSE(sensitive(breakpoint_list));
  EXPECT_FALSE(sensitive(add_watchpoint_button));

  start_bochs();
  EXPECT_TRUE(wait_for_transcript(
      join({start_lines, add_lines, {"d 1", "info break", "q"},
            {"s", "dump_cpu", "lb 0x00007C4B", "vb 0x0000:0x00007C5A", "info break", "watch read 0x00000600",
             "watch write 0x00000600", "watch"}})));
  EXPECT_EQ(breakpoint_rows(), kept);
  EXPECT_EQ(breakpoint_table[0].number, 1u);
  EXPECT_EQ(breakpoint_table[1].number, 2u);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  // The kinds chosen before stay chosen; the entries are empty.
  EXPECT_EQ(breakpoint_kind_group->selected, 2u);
  EXPECT_EQ(watchpoint_kind_group->selected, 1u);
  EXPECT_EQ(entry_text(breakpoint_entry), "");
  EXPECT_EQ(entry_text(watchpoint_entry), "");

  // The new debugger reports its own number, and the row it names is marked.
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(stop_location.physical_address, demo_clear);
  EXPECT_EQ(marks(breakpoint_list), (Lines{"X", ""}));
  EXPECT_EQ(breakpoint_selected_row, 0);
}

TEST_F(PointsEndToEndTest, StartingAgainWithReloadOffOnlyReadsTheLists) {
  build_window();  // the Preferences page sets the switches' defaults
  reload_breakpoints = 0;
  reload_watchpoints = 0;
  start_bochs();
  add_one_of_each();
  kill_bochs();
  start_bochs();
  EXPECT_TRUE(wait_for_transcript(join({start_lines, add_lines, {"q"}, start_lines})));
  EXPECT_EQ(row_count(breakpoint_list), 0);
  EXPECT_EQ(row_count(watchpoint_list), 0);
  EXPECT_FALSE(sensitive(remove_all_breakpoints_button));
  EXPECT_FALSE(sensitive(remove_all_watchpoints_button));
}

TEST_F(PointsEndToEndTest, ATypedLineBreakCannotSendASecondCommand) {
  build_window();
  start_bochs();
  int32_t pid = child_pid;
  type_into(breakpoint_entry, "0x500\nq");
  click(add_breakpoint_button);
  type_into(watchpoint_entry, "0x600\r\nunwatch");
  activate(watchpoint_entry);
  EXPECT_TRUE(wait_for_transcript(
      join({start_lines, {"pb 0x500", "info break", "watch read 0x600", "watch"}})));
  EXPECT_EQ(breakpoint_rows(), (Lines{"|Physical|00000500"}));
  EXPECT_EQ(watchpoint_rows(), (Lines{"|Read|00000600|00000000"}));

  // The debugger did not receive a quit: it is still there and answers.
  pump_for(300);
  EXPECT_EQ(debugger_offline, 0);
  EXPECT_EQ(kill(pid, 0), 0);
  EXPECT_FALSE(history_has("Lost connection to Bochs"));
  click(remove_all_breakpoints_button);
  EXPECT_EQ(row_count(breakpoint_list), 0);
}
