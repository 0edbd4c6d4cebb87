// The history log on disk: every row shown is in the file once the main loop
// has been idle, and the signals that end VUM take the normal quit path.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "history/history.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

namespace {

class HistoryLogTest : public GuiTest {
 protected:
  // The log's lines as they are on disk now, without flushing anything.
  std::vector<std::string> log_on_disk() const {
    std::vector<std::string> lines;
    std::istringstream in(read_file(work_dir + "/__vum.log__"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  // The rows of the History list as log lines.
  std::vector<std::string> rows_as_log_lines() const {
    std::vector<std::string> lines;
    for (int r = 0; r < row_count(history_page().list); r++) {
      if (cell(history_page().list, r, 0).empty())
        lines.push_back(": " + cell(history_page().list, r, 3));
      else
        lines.push_back(cell(history_page().list, r, 0) + "  " + cell(history_page().list, r, 1) + "  [" +
                        cell(history_page().list, r, 2) + "]  " + cell(history_page().list, r, 3));
    }
    return lines;
  }

  static bool gone(int32_t pid) { return kill(pid, 0) == -1 && errno == ESRCH; }

  void quit_by_signal(int sig);
};

}  // namespace

TEST_F(HistoryLogTest, EveryRowShownIsOnDiskOnceTheMainLoopHasBeenIdle) {
  build_window();
  start_bochs();
  for (int i = 0; i < 5; i++) click(control_bar().step_button);
  pump_for(100);  // idle: nothing here flushes the log itself
  std::vector<std::string> on_disk = log_on_disk();
  EXPECT_EQ(on_disk, rows_as_log_lines());
  EXPECT_EQ(on_disk.size(), 7u) << "Starting Bochs and six instructions";

  // A second debugger in the same VUM, enough rows to pass any stdio buffer.
  click(main_window().start_button);
  start_bochs();
  settings.history_length = 100000;
  for (int i = 0; i < 200; i++) click(control_bar().step_button);
  pump_for(100);
  on_disk = log_on_disk();
  std::vector<std::string> rows = rows_as_log_lines();
  ASSERT_GE(on_disk.size(), rows.size());
  EXPECT_EQ(std::vector<std::string>(on_disk.end() - (long)rows.size(), on_disk.end()), rows);
  EXPECT_GT(read_file(work_dir + "/__vum.log__").size(), 4096u);
}

// The signal arrives while the target runs: VUM interrupts it, sends "q",
// reaps the debugger, writes "Terminating Bochs" and closes the log.
void HistoryLogTest::quit_by_signal(int sig) {
  build_window();
  start_bochs();
  for (int i = 0; i < 3; i++) click(control_bar().step_button);
  click(control_bar().go_button);
  pump_for(100);
  ASSERT_TRUE(target_running());
  int32_t pid = link_seam().child_pid;
  std::vector<std::string> before = rows_as_log_lines();
  raise(sig);
  ASSERT_TRUE(pump_until([] { return main_window().main_loop_left != 0; }, 10000)) << "VUM did not quit";
  EXPECT_TRUE(gone(pid)) << "the debugger was left behind";
  EXPECT_EQ(history_page().log, nullptr) << "the log is closed";
  std::vector<std::string> t = transcript();
  ASSERT_GE(t.size(), 2u);
  EXPECT_EQ(t[t.size() - 2], "#SIGINT");
  EXPECT_EQ(t.back(), "q");
  std::vector<std::string> want = before;
  want.push_back(": Terminating Bochs");
  EXPECT_EQ(log_on_disk(), want);
}

TEST_F(HistoryLogTest, SigtermEndsVumThroughItsQuitPath) { quit_by_signal(SIGTERM); }
TEST_F(HistoryLogTest, SighupEndsVumThroughItsQuitPath) { quit_by_signal(SIGHUP); }
TEST_F(HistoryLogTest, SigintEndsVumThroughItsQuitPath) { quit_by_signal(SIGINT); }
