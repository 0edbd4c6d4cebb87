// The History page: rows, repeat folding, the length limit and the log file.
#include <sys/stat.h>

#include <cstring>

#include "history/history.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "exec/run_control.hpp"
#include "text/settings.hpp"

class HistoryTest : public GuiTest {
 protected:
  // A stop at `physical`, with cs:eip, bytes and text derived from it.
  void stop_at(uint32_t physical) {
    StopLocation at = {};
    at.physical_address = physical;
    at.cs = 0x07c0;
    at.eip = physical - 0x7c00;
    snprintf(at.bytes, sizeof at.bytes, "%02x", physical & 0xff);
    snprintf(at.text, sizeof at.text, "nop ; at %x", physical);
    history_add_instruction(at);
  }

  // Each row as one text: the instruction cells joined by '|', or the message.
  std::vector<std::string> rows() const {
    std::vector<std::string> out;
    for (int r = 0; r < row_count(history_page().list); r++) {
      if (cell(history_page().list, r, 0).empty())
        out.push_back(cell(history_page().list, r, 3));
      else
        out.push_back(cell(history_page().list, r, 0) + "|" + cell(history_page().list, r, 1) + "|" +
                      cell(history_page().list, r, 2) + "|" + cell(history_page().list, r, 3));
    }
    return out;
  }

  int selected_row() const { return GuiTest::selected_row(history_page().list); }

  std::string log() {
    if (history_page().log) fflush(history_page().log);
    return read_file("__vum.log__");
  }
};

TEST_F(HistoryTest, InstructionRowsAreShownAndLoggedInColumnOrder) {
  build_window();
  EXPECT_EQ(log(), "") << "the log starts empty";
  stop_at(0x7c00);
  stop_at(0x7c03);
  history_message("GO...");
  stop_at(0x7c10);
  EXPECT_EQ(rows(), (std::vector<std::string>{
                        "00007C00|07C0:00000000|00|nop ; at 7c00",
                        "00007C03|07C0:00000003|03|nop ; at 7c03",
                        "GO...",
                        "00007C10|07C0:00000010|10|nop ; at 7c10",
                    }));
  EXPECT_EQ(selected_row(), 3);
  EXPECT_EQ(history_page().rows, 4u);
  EXPECT_EQ(log(),
            "00007C00  07C0:00000000  [00]  nop ; at 7c00\n"
            "00007C03  07C0:00000003  [03]  nop ; at 7c03\n"
            ": GO...\n"
            "00007C10  07C0:00000010  [10]  nop ; at 7c10\n");
}

TEST_F(HistoryTest, RepeatsFoldIntoACountShownBeforeTheNextRow) {
  struct Case {
    const char *what;
    std::vector<std::string> steps;  // hex address, or "m:TEXT" for a message
    std::vector<std::string> rows;   // the instruction column of each row
  } cases[] = {
      {"A A A B", {"7c00", "7c00", "7c00", "7c01"},
       {"nop ; at 7c00", "repeated 2 times", "nop ; at 7c01"}},
      {"a single fold has count 1", {"7c00", "7c00", "m:GO..."},
       {"nop ; at 7c00", "repeated 1 times", "GO..."}},
      {"messages do not break folding",
       {"7c00", "m:Stopped on a breakpoint", "m:GO...", "7c00", "m:Stopped on a breakpoint"},
       {"nop ; at 7c00", "Stopped on a breakpoint", "GO...", "repeated 1 times",
        "Stopped on a breakpoint"}},
      {"address 0 first is a repeat of the reset value", {"0", "0", "7c00"},
       {"repeated 2 times", "nop ; at 7c00"}},
  };
  build_window();
  for (const Case &c : cases) {
    history_clear();
    for (const std::string &s : c.steps) {
      if (s.rfind("m:", 0) == 0)
        history_message(s.c_str() + 2);
      else
        stop_at((uint32_t)strtoul(s.c_str(), NULL, 16));
    }
    std::vector<std::string> texts = history_texts();
    EXPECT_EQ(texts, c.rows) << c.what;
    std::string expected_log;
    for (const std::string &t : texts)
      expected_log += (t.rfind("nop", 0) == 0 ? "" : ": ") + t + "\n";
    std::string got = log();
    // Instruction lines carry the address columns; compare their tails.
    std::string tails;
    size_t start = 0;
    while (start < got.size()) {
      size_t end = got.find('\n', start);
      std::string line = got.substr(start, end - start);
      size_t bracket = line.find("]  ");
      tails += (line[0] == ':' ? line : line.substr(bracket + 3)) + "\n";
      start = end + 1;
    }
    EXPECT_EQ(tails, expected_log) << c.what;
  }
}

TEST_F(HistoryTest, LengthLimitDropsOldestRowsButTheLogKeepsThem) {
  build_window();  // the Preferences page sets the default length
  settings.history_length = 3;
  for (uint32_t a = 1; a <= 4; a++) stop_at(0x7c00 + a);
  EXPECT_EQ(history_texts(),
            (std::vector<std::string>{"nop ; at 7c02", "nop ; at 7c03", "nop ; at 7c04"}));
  EXPECT_EQ(selected_row(), 2);
  std::string l = log();
  EXPECT_EQ(std::count(l.begin(), l.end(), '\n'), 4);
  EXPECT_NE(l.find("nop ; at 7c01"), std::string::npos);

  settings.history_length = 50;
  for (uint32_t a = 5; a <= 50; a++) stop_at(0x7c00 + a);
  EXPECT_EQ(row_count(history_page().list), 49);
  settings.history_length = 10;
  history_trim();
  EXPECT_EQ(row_count(history_page().list), 10);
  EXPECT_EQ(history_page().rows, 10u);
  EXPECT_EQ(history_texts().front(), "nop ; at 7c29");
}

TEST_F(HistoryTest, ZeroLengthKeepsTheListEmptyAndStillLogs) {
  build_window();
  settings.history_length = 0;
  stop_at(0x7c00);
  history_message("GO...");
  EXPECT_EQ(row_count(history_page().list), 0);
  EXPECT_EQ(history_page().rows, 0u);
  EXPECT_EQ(log(), "00007C00  07C0:00000000  [00]  nop ; at 7c00\n: GO...\n");
}

TEST_F(HistoryTest, NewestRowIsScrolledIntoView) {
  build_window();
  gtk_notebook_set_current_page(GTK_NOTEBOOK(main_window().notebook), 5);
  for (uint32_t a = 1; a <= 45; a++) stop_at(0x7c00 + a);
  pump_for(300);
  EXPECT_TRUE(row_fully_visible(history_page().list, 44));
  EXPECT_FALSE(row_fully_visible(history_page().list, 0));
}

// Rows added while another page is shown cost the list no layout; shown
// again, it has every row, its full size, and the newest selected and in view.
TEST_F(HistoryTest, RowsAddedWhileThePageIsHiddenAreThereWhenItIsShown) {
  build_window();
  GtkNotebook *notebook = GTK_NOTEBOOK(main_window().notebook);
  gtk_notebook_set_current_page(notebook, 5);
  for (uint32_t a = 1; a <= 5; a++) stop_at(0x7c00 + a);
  pump_for(200);
  gtk_notebook_set_current_page(notebook, 0);
  pump_for(200);

  static int laid_out = 0;
  GtkWidget *list = history_page().list;
  auto count = [](GSignalInvocationHint *, guint, const GValue *values, gpointer data) -> gboolean {
    if (g_value_get_object(&values[0]) == data) laid_out++;
    return TRUE;
  };
  g_type_class_ref(GTK_TYPE_WIDGET);
  guint request = g_signal_lookup("size-request", GTK_TYPE_WIDGET);
  guint allocate = g_signal_lookup("size-allocate", GTK_TYPE_WIDGET);
  gulong hooks[2] = {g_signal_add_emission_hook(request, 0, count, list, NULL),
                     g_signal_add_emission_hook(allocate, 0, count, list, NULL)};
  for (uint32_t a = 6; a <= 45; a++) {
    stop_at(0x7c00 + a);
    pump_for(5);
  }
  pump_for(200);
  g_signal_remove_emission_hook(request, hooks[0]);
  g_signal_remove_emission_hook(allocate, hooks[1]);
  EXPECT_EQ(laid_out, 0) << "the hidden list was laid out as rows came";

  gtk_notebook_set_current_page(notebook, 5);
  pump_for(300);
  ASSERT_EQ(row_count(list), 45);
  EXPECT_EQ(cell(list, 44, 0), "00007C2D");
  EXPECT_EQ(selected_row(), 44);
  EXPECT_TRUE(row_fully_visible(list, 44));
  EXPECT_FALSE(row_fully_visible(list, 0));
  GdkRectangle shown;
  gtk_tree_view_get_visible_rect(GTK_TREE_VIEW(list), &shown);
  EXPECT_GT(shown.height, 100) << "the list was not given its size again";

  // One more row with the page shown: the list follows it as before.
  stop_at(0x7c2e);
  pump_for(200);
  EXPECT_EQ(selected_row(), 45);
  EXPECT_TRUE(row_fully_visible(list, 45));
}

TEST_F(HistoryTest, ClearWithAPendingCountKeepsOneRowAndEmptiesTheLog) {
  build_window();
  stop_at(0x7c00);
  stop_at(0x7c00);
  stop_at(0x7c00);
  history_clear();
  EXPECT_EQ(history_texts(), (std::vector<std::string>{"repeated 2 times"}));
  EXPECT_EQ(history_page().rows, 1u);
  EXPECT_EQ(log(), "");
  // Folding starts afresh.
  stop_at(0x7c00);
  EXPECT_EQ(row_count(history_page().list), 2);
}

TEST_F(HistoryTest, QuitWritesThePendingCountBeforeClosingTheLog) {
  build_window();
  stop_at(0x7c00);
  stop_at(0x7c00);
  quit_clicked(NULL, NULL);
  EXPECT_EQ(history_page().log, nullptr);
  EXPECT_EQ(read_file("__vum.log__"), "00007C00  07C0:00000000  [00]  nop ; at 7c00\n: repeated 1 times\n");
}

TEST_F(HistoryTest, UnwritableLogIsReportedAndTheListStillWorks) {
  ASSERT_EQ(mkdir("__vum.log__", 0755), 0);  // a directory cannot be opened for writing
  build_window();
  EXPECT_NE(printed.find("VUM: Unable to access history log file, logging disabled.\n"),
            std::string::npos);
  EXPECT_EQ(history_page().log, nullptr);
  stop_at(0x7c00);
  history_message("GO...");
  EXPECT_EQ(history_texts(), (std::vector<std::string>{"nop ; at 7c00", "GO..."}));
  printed.clear();
  history_clear();
  EXPECT_NE(printed.find("VUM: Unable to access history log file"), std::string::npos)
      << "Clear History tries again";
  quit_clicked(NULL, NULL);
}
