// The Watchpoints page: layout, the list drawn from the debugger's reply,
// add, remove, remove all, reload and the mark of a hit, each through the
// exact dialogue with a scripted debugger.
#include <string>
#include <vector>

#include "link/debugger_child.hpp"
#include "points/watchpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "support/points_script.hpp"
#include "text/settings.hpp"

namespace {

std::vector<GtkWidget *> children(GtkWidget *box) {
  std::vector<GtkWidget *> out;
  GList *list = gtk_container_get_children(GTK_CONTAINER(box));
  for (GList *l = list; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
  g_list_free(list);
  return out;
}

class WatchpointsPageTest : public ScriptedDebuggerTest {
 protected:
  // The reply to "watch" listing the given entry lines, with its prompt.
  std::string watch_list(const std::vector<std::string> &entries) {
    std::string text;
    for (const std::string &e : entries) text += e + "\n";
    return text + prompt();
  }

  std::vector<std::string> rows() {
    std::vector<std::string> out;
    for (int r = 0; r < row_count(watchpoints_page().w.list); r++)
      out.push_back(cell(watchpoints_page().w.list, r, 0) + "|" + cell(watchpoints_page().w.list, r, 1) + "|" +
                    cell(watchpoints_page().w.list, r, 2) + "|" + cell(watchpoints_page().w.list, r, 3));
    return out;
  }

  void select_kind(uint32_t kind) { click(watchpoints_page().w.kind_group->buttons[kind].button); }
};

const std::string read_500 = "read 0x00000500 (1234)";
const std::string write_500 = "write 0x00000500 (12345678)";
const std::string write_600 = "write 0x00000600 (0000abcd)";

}  // namespace

TEST_F(WatchpointsPageTest, PageLayoutAndOfflineLook) {
  build_window();
  GtkCList *list = GTK_CLIST(watchpoints_page().w.list);
  const char *titles[4] = {"Last Stop", "Type", "Watchpoint", "Value"};
  GtkJustification just[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                              GTK_JUSTIFY_LEFT};
  ASSERT_EQ(list->columns, 4);
  for (int i = 0; i < 4; i++) {
    EXPECT_STREQ(gtk_clist_get_column_title(list, i), titles[i]);
    EXPECT_EQ(list->column[i].justification, just[i]) << i;
  }
  EXPECT_TRUE(GTK_CLIST_SHOW_TITLES(list));
  EXPECT_EQ(list->selection_mode, GTK_SELECTION_SINGLE);

  GtkWidget *side = gtk_widget_get_parent(watchpoints_page().w.entry);
  std::vector<GtkWidget *> across = children(gtk_widget_get_parent(side));
  ASSERT_EQ(across.size(), 2u);
  EXPECT_EQ(across[0], gtk_widget_get_parent(watchpoints_page().w.list));
  EXPECT_EQ(across[1], side);
  std::vector<GtkWidget *> down = children(side);
  ASSERT_EQ(down.size(), 7u);
  EXPECT_EQ(down[0], gtk_widget_get_parent(watchpoints_page().w.remove_button));
  EXPECT_TRUE(GTK_IS_HSEPARATOR(down[1]));
  EXPECT_EQ(down[2],
            gtk_widget_get_parent(gtk_widget_get_parent(watchpoints_page().w.kind_group->buttons[0].button)));
  EXPECT_EQ(down[4], watchpoints_page().w.entry);
  EXPECT_EQ(down[5], watchpoints_page().w.add_button);
  struct Label {
    int at;
    const char *text;
    bool wrap;
  } labels[] = {{3, "Physical address", false}, {6, "", true}};
  EXPECT_EQ(down[6], watchpoints_page().w.message) << "no word of what a debugger cannot do";
  for (const Label &l : labels) {
    ASSERT_TRUE(GTK_IS_LABEL(down[l.at])) << l.text;
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(down[l.at])), l.text);
    EXPECT_EQ(gtk_label_get_line_wrap(GTK_LABEL(down[l.at])), l.wrap) << l.text;
  }
  std::vector<GtkWidget *> buttons = children(down[0]);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(button_label(buttons[0]), " Remove ");
  EXPECT_EQ(buttons[1], watchpoints_page().w.remove_all_button);
  EXPECT_EQ(button_label(buttons[1]), " Remove All ");
  EXPECT_EQ(button_label(watchpoints_page().w.add_button), " Add ");
  int w = 0, h = 0;
  gtk_widget_get_size_request(watchpoints_page().w.entry, &w, &h);
  EXPECT_EQ(w, 145);

  ASSERT_EQ(watchpoints_page().w.kind_group->count, 2u);
  EXPECT_EQ(watchpoints_page().w.kind_group->selected, 0u);
  EXPECT_EQ(button_label(watchpoints_page().w.kind_group->buttons[0].button), " Read ");
  EXPECT_EQ(button_label(watchpoints_page().w.kind_group->buttons[1].button), " Write ");
  EXPECT_TRUE(active(watchpoints_page().w.kind_group->buttons[0].button));

  for (GtkWidget *w : {watchpoints_page().w.list, watchpoints_page().w.entry, watchpoints_page().w.add_button,
                       watchpoints_page().w.remove_button, watchpoints_page().w.remove_all_button})
    EXPECT_FALSE(sensitive(w));
  EXPECT_TRUE(sensitive(watchpoints_page().w.kind_group->buttons[1].button));
  EXPECT_EQ(watchpoints_page().w.selected_row, -1);
  EXPECT_EQ(watchpoints_page().w.count, 0u);
}

TEST_F(WatchpointsPageTest, RefreshDrawsTheDebuggersListAndSelectionDrivesRemove) {
  online();
  replies(watch_list({read_500, write_600}));
  refresh_watchpoints(0);
  EXPECT_EQ(sent(), (std::vector<std::string>{"watch"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(rows(), (std::vector<std::string>{"|Read|00000500|1234", "|Write|00000600|0000ABCD"}));
  EXPECT_TRUE(sensitive(watchpoints_page().w.remove_all_button));
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_button));

  gtk_clist_select_row(GTK_CLIST(watchpoints_page().w.list), 1, 0);
  EXPECT_EQ(watchpoints_page().w.selected_row, 1);
  EXPECT_TRUE(sensitive(watchpoints_page().w.remove_button));
  set_watchpoints_sensitive(0);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_button));
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));
  EXPECT_FALSE(sensitive(watchpoints_page().w.entry));
  set_watchpoints_sensitive(1);
  EXPECT_TRUE(sensitive(watchpoints_page().w.remove_button));
  gtk_clist_unselect_row(GTK_CLIST(watchpoints_page().w.list), 1, 0);
  EXPECT_EQ(watchpoints_page().w.selected_row, -1);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_button));

  replies(watch_list({}));
  refresh_watchpoints(0);
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));
  set_watchpoints_sensitive(1);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));
}

TEST_F(WatchpointsPageTest, AddSendsTheSelectedKindWithTheTypedAddress) {
  online();
  struct Case {
    uint32_t kind;
    const char *text;
    bool by_enter;
    const char *line;
  } cases[] = {
      {0, "0x500", false, "watch read 0x500"},
      {1, "600", true, "watch write 600"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    size_t before = sent().size();
    replies(prompt() + watch_list({read_500}));
    select_kind(c.kind);
    type_into(watchpoints_page().w.entry, c.text);
    if (c.by_enter)
      activate(watchpoints_page().w.entry);
    else
      click(watchpoints_page().w.add_button);
    EXPECT_EQ(sent_since(before), (std::vector<std::string>{c.line, "watch"}));
    EXPECT_EQ(unread(), "");
    EXPECT_EQ(entry_text(watchpoints_page().w.entry), "");
    EXPECT_EQ(rows(), (std::vector<std::string>{"|Read|00000500|1234"}));
  }
}

TEST_F(WatchpointsPageTest, TextThatIsNoPhysicalAddressIsRefusedAndNothingIsSent) {
  online();
  struct Case {
    const char *text;
    const char *message;
  } cases[] = {
      {"", "Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {"0xffffffffffffffffffffff", "The address \"0xffffffffffffffffffffff\" does not fit in 32 bits"},
      {"0x500\nunwatch", "\"0x500?unwatch\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {"8:500", "Type a plain address here, without a segment (SEGMENT:OFFSET is for virtual breakpoints)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    size_t before = sent().size();
    type_into(watchpoints_page().w.entry, c.text);
    activate(watchpoints_page().w.entry);
    EXPECT_EQ(sent_since(before), std::vector<std::string>{});
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(watchpoints_page().w.message)), c.message);
    EXPECT_EQ(entry_text(watchpoints_page().w.entry), c.text);
  }
}

TEST_F(WatchpointsPageTest, RemoveSendsTheEntrysKindAndAddress) {
  online();
  replies(watch_list({read_500, write_600}));
  refresh_watchpoints(0);
  // A debugger that cannot remove a single watchpoint: the row comes back.
  replies(prompt() + watch_list({read_500, write_600}));
  gtk_clist_select_row(GTK_CLIST(watchpoints_page().w.list), 1, 0);
  click(watchpoints_page().w.remove_button);
  replies(prompt() + watch_list({write_600}));
  gtk_clist_select_row(GTK_CLIST(watchpoints_page().w.list), 0, 0);
  click(watchpoints_page().w.remove_button);
  EXPECT_EQ(sent(), (std::vector<std::string>{"watch", "unwatch write 0x600", "watch",
                                              "unwatch read 0x500", "watch"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(rows(), (std::vector<std::string>{"|Write|00000600|0000ABCD"}));
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_button));
}

TEST_F(WatchpointsPageTest, RemoveAllSendsUnwatchOnce) {
  online();
  replies(watch_list({read_500, write_500, write_600}));
  refresh_watchpoints(0);
  replies(prompt() + watch_list({}));
  click(watchpoints_page().w.remove_all_button);
  EXPECT_EQ(sent(), (std::vector<std::string>{"watch", "unwatch", "watch"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(watchpoints_page().w.remove_all_button));
}

TEST_F(WatchpointsPageTest, ReloadSetsEachWatchpointAgainWithItsOwnKind) {
  online();
  replies(watch_list({read_500, write_600}));
  refresh_watchpoints(0);
  select_kind(1);
  replies(prompt() + prompt() + watch_list({read_500, write_600}));
  reload_watchpoints_now();
  EXPECT_EQ(sent_since(1), (std::vector<std::string>{"watch read 0x00000500",
                                                      "watch write 0x00000600", "watch"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(watchpoints_page().w.kind_group->selected, 1u);
  EXPECT_FALSE(active(watchpoints_page().w.kind_group->buttons[0].button));
  EXPECT_TRUE(active(watchpoints_page().w.kind_group->buttons[1].button));
  EXPECT_EQ(entry_text(watchpoints_page().w.entry), "");
  EXPECT_EQ(row_count(watchpoints_page().w.list), 2);
}

TEST_F(WatchpointsPageTest, ReloadWithTheSettingOffOnlyReadsTheList) {
  online();
  replies(watch_list({read_500, write_600}));
  refresh_watchpoints(0);
  settings.reload_watchpoints = 0;
  replies(watch_list({}));
  reload_watchpoints_now();
  EXPECT_EQ(sent_since(1), (std::vector<std::string>{"watch"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(row_count(watchpoints_page().w.list), 0);
}

TEST_F(WatchpointsPageTest, AHitMarksTheWatchpointOfItsKindAndAddress) {
  online();
  replies(watch_list({read_500, write_500, write_600}));
  refresh_watchpoints(0);
  struct Case {
    uint32_t kind, address;
    int row;  // -1: nothing marked
  } cases[] = {{1, 0x500, 1}, {0, 0x500, 0}, {1, 0x600, 2}, {0, 0x600, -1}, {1, 0x700, -1}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.row);
    refresh_watchpoints(1);
    mark_watchpoint_hit((WatchpointKind)c.kind, c.address);
    for (int r = 0; r < 3; r++) EXPECT_EQ(cell(watchpoints_page().w.list, r, 0), r == c.row ? "X" : "") << r;
    EXPECT_EQ(watchpoints_page().w.selected_row, c.row);
    EXPECT_EQ(sensitive(watchpoints_page().w.remove_button), c.row != -1);
  }
  EXPECT_EQ(sent().size(), 1u) << "marking asks the debugger nothing";
}
