// Breakpoints and watchpoints against the simulated PC's demo program,
// through real pipes: added from the pages, listed, hit by Go, removed, and
// set again in a newly started debugger, with the exact dialogue.
#include <signal.h>

#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

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
    for (int r = 0; r < row_count(breakpoints_page().w.list); r++)
      out.push_back(cell(breakpoints_page().w.list, r, 0) + "|" + cell(breakpoints_page().w.list, r, 1) + "|" +
                    cell(breakpoints_page().w.list, r, 2));
    return out;
  }

  Lines watchpoint_rows() {
    Lines out;
    for (int r = 0; r < row_count(watchpoints_page().w.list); r++)
      out.push_back(cell(watchpoints_page().w.list, r, 0) + "|" + cell(watchpoints_page().w.list, r, 1) + "|" +
                    cell(watchpoints_page().w.list, r, 2) + "|" + cell(watchpoints_page().w.list, r, 3));
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
    type_into(breakpoints_page().w.entry, "0x7c10");
    click(breakpoints_page().w.add_button);
    click(breakpoints_page().w.kind_group->buttons[1].button);
    type_into(breakpoints_page().w.entry, "0x7c4b");
    activate(breakpoints_page().w.entry);
    click(breakpoints_page().w.kind_group->buttons[2].button);
    type_into(breakpoints_page().w.entry, "0x0000:0x7c5a");
    click(breakpoints_page().w.add_button);
    type_into(watchpoints_page().w.entry, "0x600");
    click(watchpoints_page().w.add_button);
    click(watchpoints_page().w.kind_group->buttons[1].button);
    type_into(watchpoints_page().w.entry, "0x600");
    activate(watchpoints_page().w.entry);
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
    click(control_bar().go_button);
    return pump_until([] { return target_running() == 0; });
  }

  void kill_bochs() {
    click(main_window().start_button);
    ASSERT_EQ(link_seam().debugger_offline, 1);
  }
};

}  // namespace

TEST_F(PointsEndToEndTest, EachKindIsListedAndMarkedWhenGoStopsOnIt) {
  build_window();
  start_bochs();
  add_one_of_each();
  EXPECT_EQ(breakpoint_rows(), all_breakpoints);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  EXPECT_EQ(entry_text(breakpoints_page().w.entry), "");
  EXPECT_EQ(entry_text(watchpoints_page().w.entry), "");

  struct Stop {
    uint32_t at;
    const char *message;
    GtkWidget *list;
    int row;
  } stops[] = {
      {demo_clear, "Stopped on a breakpoint", breakpoints_page().w.list, 1},
      {demo_set_count, "Stopped on a breakpoint", breakpoints_page().w.list, 0},
      {demo_copy, "Stopped on the write watchpoint at 00000600", watchpoints_page().w.list, 1},
      {demo_after_compare, "Stopped on the read watchpoint at 00000600", watchpoints_page().w.list, 0},
      {demo_farsub, "Stopped on a breakpoint", breakpoints_page().w.list, 2},
  };
  for (const Stop &s : stops) {
    SCOPED_TRACE(s.at);
    ASSERT_TRUE(go_until_stopped());
    EXPECT_EQ(current_location().physical_address, s.at);
    EXPECT_EQ(history_texts().back(), s.message);
    Lines expected(3, "");
    if (s.list == watchpoints_page().w.list) expected.resize(2);
    expected[s.row] = "X";
    EXPECT_EQ(marks(s.list), expected);
    bool on_breakpoint = s.list == breakpoints_page().w.list;
    EXPECT_EQ(on_breakpoint ? breakpoints_page().w.selected_row : watchpoints_page().w.selected_row, s.row);
    GList *selection = GTK_CLIST(s.list)->selection;
    ASSERT_NE(selection, nullptr);
    EXPECT_EQ(GPOINTER_TO_INT(selection->data), s.row);
    EXPECT_TRUE(sensitive(on_breakpoint ? breakpoints_page().w.remove_button : watchpoints_page().w.remove_button));
    EXPECT_TRUE(sensitive(s.list));
  }
  // At every stop the watchpoints are read again, for their values; the
  // breakpoint list is redrawn from its table: the debugger is not asked.
  const Lines stop = {"c", "dump_cpu", "watch"};
  EXPECT_TRUE(wait_for_transcript(join({start_lines, add_lines, stop, stop, stop, stop, stop})));
}

TEST_F(PointsEndToEndTest, RemoveOneThenRemoveAll) {
  build_window();
  start_bochs();
  add_one_of_each();

  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 2, 0);
  click(breakpoints_page().w.remove_button);
  EXPECT_EQ(breakpoint_rows(), (Lines{all_breakpoints[0], all_breakpoints[1]}));
  gtk_clist_select_row(GTK_CLIST(watchpoints_page().w.list), 1, 0);
  click(watchpoints_page().w.remove_button);
  EXPECT_EQ(watchpoint_rows(), (Lines{both_watchpoints[0]}));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_button));

  click(breakpoints_page().w.remove_all_button);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button));
  click(watchpoints_page().w.remove_all_button);
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));

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
  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 0, 0);
  click(breakpoints_page().w.remove_button);
  ASSERT_EQ(breakpoints_page().table[0].number, 2u);
  ASSERT_EQ(breakpoints_page().table[1].number, 3u);
  const Lines kept = {all_breakpoints[1], all_breakpoints[2]};

  kill_bochs();
  // Offline, the lists keep what they showed.
  EXPECT_EQ(breakpoint_rows(), kept);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  EXPECT_FALSE(sensitive(breakpoints_page().w.list));
  EXPECT_FALSE(sensitive(watchpoints_page().w.add_button));

  start_bochs();
  EXPECT_TRUE(wait_for_transcript(
      join({start_lines, add_lines, {"d 1", "info break", "q"},
            {"s", "dump_cpu", "lb 0x00007C4B", "vb 0x0000:0x00007C5A", "info break", "watch read 0x00000600",
             "watch write 0x00000600", "watch"}})));
  EXPECT_EQ(breakpoint_rows(), kept);
  EXPECT_EQ(breakpoints_page().table[0].number, 1u);
  EXPECT_EQ(breakpoints_page().table[1].number, 2u);
  EXPECT_EQ(watchpoint_rows(), both_watchpoints);
  // The kinds chosen before stay chosen; the entries are empty.
  EXPECT_EQ(breakpoints_page().w.kind_group->selected, 2u);
  EXPECT_EQ(watchpoints_page().w.kind_group->selected, 1u);
  EXPECT_EQ(entry_text(breakpoints_page().w.entry), "");
  EXPECT_EQ(entry_text(watchpoints_page().w.entry), "");

  // The new debugger reports its own number, and the row it names is marked.
  ASSERT_TRUE(go_until_stopped());
  EXPECT_EQ(current_location().physical_address, demo_clear);
  EXPECT_EQ(marks(breakpoints_page().w.list), (Lines{"X", ""}));
  EXPECT_EQ(breakpoints_page().w.selected_row, 0);
}

TEST_F(PointsEndToEndTest, StartingAgainWithReloadOffOnlyReadsTheLists) {
  build_window();  // the Preferences page sets the switches' defaults
  settings.reload_breakpoints = 0;
  settings.reload_watchpoints = 0;
  start_bochs();
  add_one_of_each();
  kill_bochs();
  start_bochs();
  EXPECT_TRUE(wait_for_transcript(join({start_lines, add_lines, {"q"}, start_lines})));
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button));
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));
}

TEST_F(PointsEndToEndTest, TypedTextCannotCarryASecondCommand) {
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  type_into(breakpoints_page().w.entry, "0x500\nq");
  click(breakpoints_page().w.add_button);
  type_into(breakpoints_page().w.entry, "0x7c00;q");
  click(breakpoints_page().w.add_button);
  type_into(watchpoints_page().w.entry, "0x600\r\nunwatch");
  activate(watchpoints_page().w.entry);
  pump_for(100);
  EXPECT_EQ(transcript(), start_lines) << "nothing was sent";
  EXPECT_EQ(breakpoint_rows(), Lines{});
  EXPECT_EQ(watchpoint_rows(), Lines{});
  // Mended, they go.
  type_into(breakpoints_page().w.entry, "0x500");
  click(breakpoints_page().w.add_button);
  type_into(watchpoints_page().w.entry, "0x600");
  activate(watchpoints_page().w.entry);
  EXPECT_TRUE(wait_for_transcript(
      join({start_lines, {"pb 0x500", "info break", "watch read 0x600", "watch"}})));
  EXPECT_EQ(breakpoint_rows(), (Lines{"|Physical|00000500"}));
  EXPECT_EQ(watchpoint_rows(), (Lines{"|Read|00000600|00000000"}));

  // The debugger did not receive a quit: it is still there and answers.
  pump_for(300);
  EXPECT_EQ(link_seam().debugger_offline, 0);
  EXPECT_EQ(kill(pid, 0), 0);
  EXPECT_FALSE(history_has("Lost connection to Bochs"));
  click(breakpoints_page().w.remove_all_button);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
}
