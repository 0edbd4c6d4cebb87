// The debugger ending at each kind of exchange: VUM survives, goes offline
// through the lost-connection path, parses nothing stale, and starts again.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "points/watchpoints_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/dump_windows.hpp"
#include "views/struct_windows.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"

namespace {

class KillPointTest : public GuiTest {
 public:
  // The exchanges below drive the window from outside the fixture.
  using GuiTest::click;
  using GuiTest::pump_for;
  using GuiTest::type_into;

 protected:
  static bool gone(int32_t pid) { return kill(pid, 0) == -1 && errno == ESRCH; }
};

// The start sends commands 1 to 4: "s", "dump_cpu", "info break", "watch".
struct KillPoint {
  const char *exchange;
  const char *hook;   // the simulated PC's variable that ends it
  const char *value;  // at this command (for a mid-reply end: after its first line)
  std::function<void(KillPointTest *)> act;
  bool lost;          // the lost-connection path (Kill's own path otherwise)
  bool new_rows;      // history rows besides the messages may come
};

}  // namespace

TEST_F(KillPointTest, TheDebuggerEndingAtEachKindOfExchange) {
  const KillPoint points[] = {
      {"start-up", "VUM_SIM_EXIT_MID_REPLY", "1", [](KillPointTest *) {}, true, false},
      {"step", "VUM_SIM_EXIT_MID_REPLY", "5", [](KillPointTest *t) { t->click(control_bar().step_button); }, true,
       false},
      {"run", "VUM_SIM_EXIT_AFTER", "5", [](KillPointTest *t) { t->click(control_bar().go_button); }, true, false},
      {"the interrupt's report", "VUM_SIM_EXIT_MID_REPLY", "5",
       [](KillPointTest *t) {
         t->click(control_bar().go_button);
         t->pump_for(50);
         t->click(control_bar().stop_button);
       },
       true, false},
      {"breakpoint list", "VUM_SIM_EXIT_MID_REPLY", "6",
       [](KillPointTest *t) {
         t->type_into(breakpoints_page().w.entry, "0x7c10");
         t->click(breakpoints_page().w.add_button);
       },
       true, false},
      {"watch list", "VUM_SIM_EXIT_MID_REPLY", "6",
       [](KillPointTest *t) {
         t->type_into(watchpoints_page().w.entry, "0x500");
         t->click(watchpoints_page().w.add_button);
       },
       true, false},
      {"register dump", "VUM_SIM_EXIT_MID_REPLY", "6", [](KillPointTest *t) { t->click(control_bar().step_button); },
       true, true},
      {"stack read", "VUM_SIM_EXIT_MID_REPLY", "6",
       [](KillPointTest *t) { t->click(main_window().show_state_button); }, true, false},
      {"memory dump", "VUM_SIM_EXIT_MID_REPLY", "5",
       [](KillPointTest *t) {
         t->type_into(memory_page().address_entry, "7c00");
         t->type_into(memory_page().units_entry, "64");
         t->click(memory_page().dump_button);
       },
       true, false},
      {"quit", "VUM_SIM_EXIT_AFTER", "5", [](KillPointTest *t) { t->click(main_window().start_button); }, false,
       false},
      {"structure read", "VUM_SIM_EXIT_MID_REPLY", "6",
       [](KillPointTest *) { gtk_clist_select_row(GTK_CLIST(structures_list()), 0, 0); }, true, false},
  };
  // One structure of two fields: opening its window reads them, commands 5
  // and 6.
  FILE *config = fopen(".vumrc", "w");
  ASSERT_NE(config, nullptr);
  fputs("{struct header 7c00\n  magic 2\n  flags 4\n}\n", config);
  fclose(config);
  build_window();
  for (const KillPoint &k : points) {
    SCOPED_TRACE(k.exchange);
    if (state_panel_shown()) click(main_window().show_state_button);
    while (memory_page().windows.first) close_dump_window(NULL, memory_page().windows.first);
    setenv(k.hook, k.value, 1);
    start_bochs();
    int32_t pid = link_seam().child_pid;
    StopLocation before = current_location();
    size_t rows = history_texts().size();
    k.act(this);
    ASSERT_TRUE(pump_until([this] { return link_seam().debugger_offline && !active(main_window().start_button); }, 10000))
        << "VUM stayed online";
    unsetenv(k.hook);
    std::vector<std::string> h = history_texts();
    EXPECT_EQ(h.back(), k.lost ? "Lost connection to Bochs" : "Terminating Bochs");
    EXPECT_TRUE(gone(pid));
    EXPECT_EQ(zombie_children(), 0);
    EXPECT_EQ(entry_text(control_bar().instruction_entry), ".. o f f l i n e ..");
    if (!k.new_rows) {
      // Nothing of a cut reply became a row or a stop location.
      for (size_t r = rows; r < h.size(); r++)
        EXPECT_TRUE(cell(history_page().list, (int)r, 0).empty()) << "row " << h[r];
      EXPECT_EQ(current_location().physical_address, before.physical_address);
      EXPECT_STREQ(current_location().text, before.text);
    }
    // A new debugger starts and steps as usual.
    start_bochs();
    uint32_t at = current_location().physical_address;
    click(control_bar().step_button);
    EXPECT_NE(current_location().physical_address, at);
    click(main_window().start_button);
    ASSERT_TRUE(link_seam().debugger_offline);
  }
}
