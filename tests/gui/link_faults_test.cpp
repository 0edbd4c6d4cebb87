// Debuggers that misbehave: they stop answering, ignore the interrupt, the
// quit command and SIGTERM, or close their replies and run on. VUM must never
// freeze, never leave the debugger running behind it, and go offline the way
// it does when the debugger is lost.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"

namespace {

class LinkFaultTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    // A short deadline, so that a hung debugger costs the suite little (the
    // start keeps its own: a busy machine may take a while to start one).
    link_seam().reply_deadline_ms = 300;
  }
  void TearDown() override {
    for (const char *v : {"VUM_SIM_SILENT_AFTER", "VUM_SIM_SILENT_MID_REPLY", "VUM_SIM_IGNORE_SIGINT",
                          "VUM_SIM_IGNORE_QUIT", "VUM_SIM_IGNORE_SIGTERM",
                          "VUM_SIM_CLOSE_REPLIES_AFTER"})
      unsetenv(v);
    if (link_seam().child_pid > 0) kill(link_seam().child_pid, SIGKILL);
    GuiTest::TearDown();
  }

  // True when the process is gone and reaped: not even a zombie is left.
  static bool gone(int32_t pid) { return kill(pid, 0) == -1 && errno == ESRCH; }

  // The link went down through the lost-connection path: the reason, then
  // "Lost connection to Bochs", the start button up, every control offline.
  void expect_lost_with(const std::string &reason, int32_t pid) {
    ASSERT_TRUE(pump_until([] { return link_seam().debugger_offline; }, 5000)) << "VUM stayed online";
    std::vector<std::string> h = history_texts();
    ASSERT_GE(h.size(), 2u);
    EXPECT_EQ(h[h.size() - 2], reason);
    EXPECT_EQ(h.back(), "Lost connection to Bochs");
    EXPECT_EQ(button_label(main_window().start_button), " Start Bochs ");
    EXPECT_FALSE(active(main_window().start_button));
    EXPECT_FALSE(sensitive(control_bar().go_button));
    EXPECT_FALSE(sensitive(control_bar().step_button));
    EXPECT_FALSE(sensitive(control_bar().stop_button));
    EXPECT_EQ(entry_text(control_bar().instruction_entry), ".. o f f l i n e ..");
    EXPECT_TRUE(gone(pid)) << "the debugger was left behind";
    EXPECT_EQ(zombie_children(), 0);
  }

  // A new debugger, without the fault, starts and steps as usual.
  void expect_restart_works() {
    TearDown_env();
    start_bochs();
    uint32_t before = current_location().physical_address;
    click(control_bar().step_button);
    EXPECT_NE(current_location().physical_address, before);
    EXPECT_FALSE(link_seam().debugger_offline);
  }

  static void TearDown_env() {
    for (const char *v : {"VUM_SIM_SILENT_AFTER", "VUM_SIM_SILENT_MID_REPLY", "VUM_SIM_IGNORE_SIGINT",
                          "VUM_SIM_IGNORE_QUIT", "VUM_SIM_IGNORE_SIGTERM",
                          "VUM_SIM_CLOSE_REPLIES_AFTER"})
      unsetenv(v);
  }

  const std::string silence = "No reply from Bochs within 0.3 seconds: ending it";
};

}  // namespace

// Start sends "s", "dump_cpu", "info break" and "watch": the fifth command is the
// first one the tests below send.

TEST_F(LinkFaultTest, ADebuggerThatNeverAnswersIsEndedAfterTheDeadline) {
  setenv("VUM_SIM_SILENT_AFTER", "5", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  size_t rows = history_texts().size();
  click(control_bar().step_button);  // returns: the read gives up after the deadline
  expect_lost_with(silence, pid);
  // Nothing of the missing reply was parsed: no instruction row was added.
  EXPECT_EQ(history_texts().size(), rows + 2);
  expect_restart_works();
}

TEST_F(LinkFaultTest, ADebuggerThatStopsInTheMiddleOfAReplyIsEnded) {
  setenv("VUM_SIM_SILENT_MID_REPLY", "5", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  StopLocation before = current_location();
  size_t rows = history_texts().size();
  click(control_bar().step_button);  // "Next at t=..." arrives, the instruction line never does
  expect_lost_with(silence, pid);
  EXPECT_EQ(current_location().physical_address, before.physical_address);
  EXPECT_STREQ(current_location().text, before.text);
  EXPECT_EQ(history_texts().size(), rows + 2);
  expect_restart_works();
}

TEST_F(LinkFaultTest, ADebuggerSilentFromTheStartIsEnded) {
  setenv("VUM_SIM_SILENT_AFTER", "1", 1);
  build_window();
  start_bochs();  // the first step's reply never comes
  int32_t pid = link_seam().child_pid;
  expect_lost_with(silence, pid);
  expect_restart_works();
}

TEST_F(LinkFaultTest, StopOnADebuggerThatIgnoresTheInterruptGivesUpAfterTheDeadline) {
  setenv("VUM_SIM_IGNORE_SIGINT", "1", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  pump_for(50);
  click(control_bar().stop_button);  // the interrupt's report never comes
  EXPECT_TRUE(transcript_has("#SIGINT"));
  expect_lost_with(silence, pid);
  EXPECT_FALSE(target_running());
  expect_restart_works();
}

TEST_F(LinkFaultTest, KillEndsADebuggerThatIgnoresTheInterruptQuitAndSigterm) {
  struct Case {
    const char *what;
    bool ignore_sigterm;
  } cases[] = {{"SIGTERM ends it", false}, {"only SIGKILL ends it", true}};
  build_window();
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    setenv("VUM_SIM_IGNORE_SIGINT", "1", 1);
    setenv("VUM_SIM_IGNORE_QUIT", "1", 1);
    if (c.ignore_sigterm) setenv("VUM_SIM_IGNORE_SIGTERM", "1", 1);
    start_bochs();
    int32_t pid = link_seam().child_pid;
    click(control_bar().go_button);
    ASSERT_TRUE(target_running());
    click(main_window().start_button);  // Kill: SIGINT and "q" are ignored, the run goes on
    EXPECT_TRUE(gone(pid)) << "Kill returned with the debugger still there";
    EXPECT_TRUE(link_seam().debugger_offline);
    EXPECT_TRUE(history_has("Terminating Bochs"));
    EXPECT_EQ(zombie_children(), 0);
    TearDown_env();
  }
}

TEST_F(LinkFaultTest, QuitEndsADebuggerThatIgnoresTheInterruptAndQuit) {
  setenv("VUM_SIM_IGNORE_SIGINT", "1", 1);
  setenv("VUM_SIM_IGNORE_QUIT", "1", 1);
  setenv("VUM_SIM_IGNORE_SIGTERM", "1", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  click(control_bar().go_button);
  // The run has begun before Quit interrupts it.
  ASSERT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "c"}));
  std::vector<GtkWidget *> quit;
  GList *row = gtk_container_get_children(GTK_CONTAINER(gtk_widget_get_parent(main_window().start_button)));
  for (GList *l = row; l; l = l->next)
    if (button_label(GTK_WIDGET(l->data)) == " Quit ") quit.push_back(GTK_WIDGET(l->data));
  g_list_free(row);
  ASSERT_EQ(quit.size(), 1u);
  click(quit[0]);
  EXPECT_EQ(main_window().main_loop_left, 1);
  EXPECT_TRUE(gone(pid)) << "VUM would exit with the debugger still running";
  EXPECT_EQ(zombie_children(), 0);
  // The interrupt was sent; the "q" after it waits unread behind the run.
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "c", "#SIGINT"}));
}

TEST_F(LinkFaultTest, ADebuggerThatClosesItsRepliesAndRunsOnIsEnded) {
  setenv("VUM_SIM_CLOSE_REPLIES_AFTER", "5", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  click(control_bar().go_button);  // "c": the replies end, the debugger runs on
  ASSERT_TRUE(target_running());
  expect_lost_with("Bochs closed its reply stream: ending it", pid);
  EXPECT_FALSE(target_running());
  expect_restart_works();
}

TEST_F(LinkFaultTest, ADebuggerThatClosesItsRepliesWhileStoppedIsEnded) {
  setenv("VUM_SIM_CLOSE_REPLIES_AFTER", "5", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  click(control_bar().step_button);
  expect_lost_with("Bochs closed its reply stream: ending it", pid);
  expect_restart_works();
}

TEST_F(LinkFaultTest, ADebuggerThatExitsIsLostWithoutFurtherWords) {
  // The end of the replies because the debugger ended is the ordinary loss.
  setenv("VUM_SIM_EXIT_AFTER", "5", 1);
  build_window();
  start_bochs();
  int32_t pid = link_seam().child_pid;
  size_t rows = history_texts().size();
  click(control_bar().step_button);
  ASSERT_TRUE(pump_until([] { return link_seam().debugger_offline; }, 5000));
  std::vector<std::string> h = history_texts();
  ASSERT_EQ(h.size(), rows + 1);
  EXPECT_EQ(h.back(), "Lost connection to Bochs");
  EXPECT_TRUE(gone(pid));
  unsetenv("VUM_SIM_EXIT_AFTER");
}
