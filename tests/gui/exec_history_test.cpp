// The History list as stops and trace lines fill it: its columns stay as wide
// as their widest cell (or title) while rows come in at the bottom and go at
// the top, exactly as the toolkit's own auto-resizing would have them.
#include <algorithm>
#include <cstring>
#include <string>

#include "history/history.hpp"
#include "settings/preferences_page.hpp"
#include "support/gui_fixture.hpp"

#include <array>
#include <deque>
#include <vector>

#include "kit/widget_kit.hpp"
#include "exec/run_control.hpp"
#include "text/settings.hpp"

typedef std::array<std::string, 4> Row;

class ExecHistoryTest : public GuiTest {
 protected:
  // A second list made like the History list, beside it, left to the
  // toolkit's own auto-resizing, and kept holding the same rows.
  GtkWidget *reference = nullptr;
  std::deque<Row> reference_rows;

  void build() {
    build_window();
    GtkWidget *page = gtk_widget_get_parent(gtk_widget_get_parent(history_page().list));
    static const char *const titles[4] = {"Physical", "Virtual", "Bytes", "Instruction"};
    reference = add_list(page, 4, titles);
    gtk_clist_column_titles_show(GTK_CLIST(reference));
    pump_for(50);
  }

  std::vector<Row> history_rows_now() const {
    std::vector<Row> rows;
    for (int r = 0; r < row_count(history_page().list); r++)
      rows.push_back({cell(history_page().list, r, 0), cell(history_page().list, r, 1), cell(history_page().list, r, 2),
                      cell(history_page().list, r, 3)});
    return rows;
  }

  // Brings the reference up to the History list as the history changes a
  // list: new rows appended at the bottom first, then old rows removed at
  // the top.
  void sync_reference() {
    std::vector<Row> now = history_rows_now();
    size_t drop = 0;
    for (; drop < reference_rows.size(); drop++) {
      size_t kept = reference_rows.size() - drop;
      if (kept > now.size()) continue;
      if (std::equal(reference_rows.begin() + drop, reference_rows.end(), now.begin())) break;
    }
    size_t kept = reference_rows.size() - drop;
    for (size_t i = kept; i < now.size(); i++) {
      const char *cells[4] = {now[i][0].c_str(), now[i][1].c_str(), now[i][2].c_str(),
                              now[i][3].c_str()};
      gtk_clist_append(GTK_CLIST(reference), const_cast<gchar **>(cells));
      reference_rows.push_back(now[i]);
    }
    for (size_t i = 0; i < drop; i++) {
      gtk_clist_remove(GTK_CLIST(reference), 0);
      reference_rows.pop_front();
    }
  }

  void stop_at(uint32_t physical, const char *bytes, const char *text) {
    StopLocation at = {};
    at.physical_address = physical;
    at.cs = physical >> 4;
    at.eip = physical & 0xF;
    strcpy(at.bytes, bytes);
    strcpy(at.text, text);
    history_add_instruction(at);
    sync_reference();
  }

  void message(const char *text) {
    history_message(text);
    sync_reference();
  }

  void expect_same_widths(const std::string &when) {
    ASSERT_EQ(row_count(reference), row_count(history_page().list)) << when;
    for (int c = 0; c < 4; c++)
      EXPECT_EQ(GTK_CLIST(history_page().list)->column[c].width, GTK_CLIST(reference)->column[c].width)
          << "column " << c << " " << when;
  }
};

TEST_F(ExecHistoryTest, ColumnsFollowTheWidestCellAsRowsComeAndGo) {
  build();
  settings.history_length = 3;
  GtkCList *list = GTK_CLIST(history_page().list);
  int title_only = list->column[3].width;

  stop_at(0x7C00, "fa", "cli");
  expect_same_widths("after one row");
  message("a very long message that is wider than any instruction text");
  int wide = list->column[3].width;
  EXPECT_GT(wide, title_only);
  expect_same_widths("after the wide message");
  stop_at(0x7C01, "31c0", "xor ax, ax");
  EXPECT_EQ(list->column[3].width, wide);
  expect_same_widths("with the wide message in the middle");

  // A folded stop, then its count and a new row push the wide message out at
  // the top: the column narrows.
  stop_at(0x7C01, "31c0", "xor ax, ax");
  stop_at(0x12345, "e8000000000000", "call 0x7c4b");
  EXPECT_LT(list->column[3].width, wide);
  expect_same_widths("after the wide message went");
  stop_at(0x7C03, "8ed8", "mov ds, ax");
  stop_at(0x7C05, "8ec0", "mov es, ax");
  expect_same_widths("after the widest bytes went");

  // Lowering the length trims from the top.
  settings.history_length = 1;
  history_trim();
  sync_reference();
  expect_same_widths("after trimming to one row");

  // Clear History with a count pending: the toolkit clears both lists.
  stop_at(0x7C05, "8ec0", "mov es, ax");
  history_clear();
  gtk_clist_clear(GTK_CLIST(reference));
  reference_rows.clear();
  sync_reference();
  EXPECT_EQ(row_count(history_page().list), 1);  // "repeated 1 times"
  expect_same_widths("after Clear History");

  settings.history_length = 50;
  for (int i = 0; i < 200; i++)
    stop_at(0x8000 + (i % 7) * 0x111, i % 3 ? "90" : "cd10", i % 5 ? "nop" : "int 0x10");
  expect_same_widths("after a run of rows");

  // A larger font: both lists are resized by the toolkit, and later rows
  // are measured at the new size.
  PangoFontDescription *font = pango_font_description_from_string("Sans 24");
  gtk_widget_modify_font(history_page().list, font);
  gtk_widget_modify_font(reference, font);
  pango_font_description_free(font);
  pump_for(50);
  expect_same_widths("after the font changed");
  for (int i = 0; i < 60; i++)
    stop_at(0x9000 + i, "90", i == 3 ? "a long text at the new size" : "nop");
  expect_same_widths("after rows at the new font");
}
