// The History list as stops and trace lines fill it: its columns stay as wide
// as their widest cell (or title) while rows come in at the bottom and go at
// the top, exactly as the toolkit's own auto-resizing would have them.
#include <algorithm>
#include <cstring>
#include <string>

#include "history/history.hpp"
#include "settings/preferences_page.hpp"
#include "shell/main_window.hpp"
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
  // toolkit's own sizing (columns sized to their cells), and kept holding
  // the same rows.
  GtkWidget *reference = nullptr;
  GtkListStore *reference_store = nullptr;
  std::deque<Row> reference_rows;

  void build() {
    build_window();
    GtkWidget *page = history_page().list;  // the notebook's page that holds the list
    while (gtk_widget_get_parent(page) != main_window().notebook) page = gtk_widget_get_parent(page);
    static const char *const titles[4] = {"Physical", "Virtual", "Bytes", "Instruction"};
    static const float xalign[4] = {0.5f, 0.5f, 0.0f, 0.0f};
    reference_store = gtk_list_store_new(4, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    reference = gtk_tree_view_new_with_model(GTK_TREE_MODEL(reference_store));
    g_object_unref(reference_store);
    gtk_widget_set_name(reference, gtk_widget_get_name(history_page().list));  // the same style
    use_monospace(reference);                                                   // and font
    for (int c = 0; c < 4; c++) {
      GtkCellRenderer *text = gtk_cell_renderer_text_new();
      g_object_set(text, "xalign", xalign[c], "ypad", 0, NULL);
      GtkTreeViewColumn *column = gtk_tree_view_column_new_with_attributes(titles[c], text, "text", c, NULL);
      gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
      gtk_tree_view_append_column(GTK_TREE_VIEW(reference), column);
    }
    GtkWidget *scrolled = gtk_scrolled_window_new(NULL, NULL);
    gtk_container_add(GTK_CONTAINER(scrolled), reference);
    gtk_box_pack_start(GTK_BOX(page), scrolled, TRUE, TRUE, 0);
    gtk_widget_show_all(scrolled);
    gtk_notebook_set_current_page(GTK_NOTEBOOK(main_window().notebook),
                                  gtk_notebook_page_num(GTK_NOTEBOOK(main_window().notebook), page));
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
      GtkTreeIter iter;
      gtk_list_store_append(reference_store, &iter);
      gtk_list_store_set(reference_store, &iter, 0, now[i][0].c_str(), 1, now[i][1].c_str(), 2, now[i][2].c_str(), 3,
                         now[i][3].c_str(), -1);
      reference_rows.push_back(now[i]);
    }
    for (size_t i = 0; i < drop; i++) {
      GtkTreeIter iter;
      gtk_tree_model_get_iter_first(GTK_TREE_MODEL(reference_store), &iter);
      gtk_list_store_remove(reference_store, &iter);
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

  // The width a column asks for: the last one is given what is left of the
  // list's width besides, which depends on its scroll bar.
  static int asked_width(GtkWidget *list, int c) {
    GtkTreeViewColumn *column = gtk_tree_view_get_column(GTK_TREE_VIEW(list), c);
    if (gtk_tree_view_column_get_sizing(column) == GTK_TREE_VIEW_COLUMN_FIXED)
      return gtk_tree_view_column_get_fixed_width(column);
    return MAX(column->requested_width, column->button_request);
  }

  void expect_same_widths(const std::string &when) {
    ASSERT_EQ(row_count(reference), row_count(history_page().list)) << when;
    pump_for(100);  // the reference sizes its columns once the main loop is idle
    for (int c = 0; c < 4; c++) {
      EXPECT_EQ(asked_width(history_page().list, c), asked_width(reference, c)) << "column " << c << " " << when;
      if (c < 3) {
        EXPECT_EQ(column_width(history_page().list, c), column_width(reference, c)) << c << " " << when;
      }
    }
  }

  int width(int column) const { return asked_width(history_page().list, column); }
};

TEST_F(ExecHistoryTest, ColumnsFollowTheWidestCellAsRowsComeAndGo) {
  build();
  settings.history_length = 3;
  pump_for(100);
  int title_only = width(3);

  stop_at(0x7C00, "fa", "cli");
  expect_same_widths("after one row");
  message("a very long message that is wider than any instruction text");
  int wide = width(3);
  EXPECT_GT(wide, title_only);
  expect_same_widths("after the wide message");
  stop_at(0x7C01, "31c0", "xor ax, ax");
  EXPECT_EQ(width(3), wide);
  expect_same_widths("with the wide message in the middle");

  // A folded stop, then its count and a new row push the wide message out at
  // the top: the column narrows.
  stop_at(0x7C01, "31c0", "xor ax, ax");
  stop_at(0x12345, "e8000000000000", "call 0x7c4b");
  EXPECT_LT(width(3), wide);
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
  gtk_list_store_clear(reference_store);
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
