// The Breakpoints page: layout, the list drawn from the debugger's reply,
// add, remove, remove all, reload and the mark of a hit, each through the
// exact dialogue with a scripted debugger.
#include <string>
#include <vector>

#include "link/debugger_child.hpp"
#include "points/breakpoints_page.hpp"
#include "settings/preferences_page.hpp"
#include "support/points_script.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

namespace {

std::vector<GtkWidget *> children(GtkWidget *box) {
  std::vector<GtkWidget *> out;
  GList *list = gtk_container_get_children(GTK_CONTAINER(box));
  for (GList *l = list; l; l = l->next) out.push_back(GTK_WIDGET(l->data));
  g_list_free(list);
  return out;
}

class BreakpointsPageTest : public ScriptedDebuggerTest {
 protected:
  // The reply to "info break" listing the given entry lines, with its prompt.
  std::string info_break(const std::vector<std::string> &entries) {
    std::string text = "Num Type           Disp Enb Address\n";
    for (const std::string &e : entries) text += e + "\n";
    return text + prompt();
  }

  std::vector<std::string> rows() {
    std::vector<std::string> out;
    for (int r = 0; r < row_count(breakpoints_page().w.list); r++)
      out.push_back(cell(breakpoints_page().w.list, r, 0) + "|" + cell(breakpoints_page().w.list, r, 1) + "|" +
                    cell(breakpoints_page().w.list, r, 2));
    return out;
  }

  void select_kind(uint32_t kind) { click(breakpoints_page().w.kind_group->buttons[kind].button); }
};

const std::string one_of_each[] = {
    "  1 pbreakpoint    keep y   0x00000500",
    "  2 lbreakpoint    keep y   0x0001f3a5",
    "  3 vbreakpoint    keep y   0x0008:0x00000100",
};

}  // namespace

TEST_F(BreakpointsPageTest, PageLayoutAndOfflineLook) {
  build_window();
  GtkCList *list = GTK_CLIST(breakpoints_page().w.list);
  const char *titles[3] = {"Last Stop", "Type", "Breakpoint"};
  GtkJustification just[3] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_LEFT};
  ASSERT_EQ(list->columns, 3);
  for (int i = 0; i < 3; i++) {
    EXPECT_STREQ(gtk_clist_get_column_title(list, i), titles[i]);
    EXPECT_EQ(list->column[i].justification, just[i]) << i;
  }
  EXPECT_TRUE(GTK_CLIST_SHOW_TITLES(list));
  EXPECT_EQ(list->selection_mode, GTK_SELECTION_SINGLE);

  // The list, and to its right a column of controls.
  GtkWidget *side = gtk_widget_get_parent(breakpoints_page().w.entry);
  GtkWidget *row = gtk_widget_get_parent(side);
  std::vector<GtkWidget *> across = children(row);
  ASSERT_EQ(across.size(), 2u);
  EXPECT_EQ(across[0], gtk_widget_get_parent(breakpoints_page().w.list));
  EXPECT_EQ(across[1], side);
  std::vector<GtkWidget *> down = children(side);
  ASSERT_EQ(down.size(), 6u);
  EXPECT_EQ(down[0], gtk_widget_get_parent(breakpoints_page().w.remove_button));
  EXPECT_TRUE(GTK_IS_HSEPARATOR(down[1]));
  EXPECT_EQ(down[2], gtk_widget_get_parent(gtk_widget_get_parent(breakpoints_page().w.kind_group->buttons[0].button)));
  EXPECT_EQ(down[3], breakpoints_page().w.entry);
  EXPECT_EQ(down[4], breakpoints_page().w.add_button);
  EXPECT_EQ(down[5], breakpoints_page().w.message);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(breakpoints_page().w.message)), "");
  std::vector<GtkWidget *> buttons = children(down[0]);
  ASSERT_EQ(buttons.size(), 2u);
  EXPECT_EQ(button_label(buttons[0]), " Remove ");
  EXPECT_EQ(button_label(buttons[1]), " Remove All ");
  EXPECT_EQ(buttons[1], breakpoints_page().w.remove_all_button);
  EXPECT_EQ(button_label(breakpoints_page().w.add_button), " Add ");
  int w = 0, h = 0;
  gtk_widget_get_size_request(breakpoints_page().w.entry, &w, &h);
  EXPECT_EQ(w, 145);
  EXPECT_EQ(h, 20);

  ASSERT_EQ(breakpoints_page().w.kind_group->count, 3u);
  EXPECT_EQ(breakpoints_page().w.kind_group->selected, 0u);
  const char *kinds[3] = {" Physical ", " Linear ", " Virtual "};
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(button_label(breakpoints_page().w.kind_group->buttons[i].button), kinds[i]);
    EXPECT_EQ(active(breakpoints_page().w.kind_group->buttons[i].button), i == 0);
    EXPECT_TRUE(sensitive(breakpoints_page().w.kind_group->buttons[i].button)) << "the kind stays choosable";
  }

  // Offline: nothing that talks to the debugger can be used.
  EXPECT_FALSE(sensitive(breakpoints_page().w.list));
  EXPECT_FALSE(sensitive(breakpoints_page().w.entry));
  EXPECT_FALSE(sensitive(breakpoints_page().w.add_button));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button));
  EXPECT_EQ(breakpoints_page().w.selected_row, -1);
  EXPECT_EQ(breakpoints_page().w.count, 0u);
}

TEST_F(BreakpointsPageTest, RefreshDrawsTheDebuggersListAndSelectionDrivesRemove) {
  online();
  EXPECT_TRUE(sensitive(breakpoints_page().w.list));
  EXPECT_TRUE(sensitive(breakpoints_page().w.add_button));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button)) << "no list read yet";

  replies(info_break({one_of_each[0], one_of_each[1], one_of_each[2]}));
  refresh_breakpoints(0);
  EXPECT_EQ(sent(), (std::vector<std::string>{"info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(rows(), (std::vector<std::string>{"|Physical|00000500", "|Linear|0001F3A5",
                                              "|Virtual|0008:00000100"}));
  EXPECT_EQ(breakpoints_page().w.count, 3u);
  EXPECT_TRUE(sensitive(breakpoints_page().w.remove_all_button));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));

  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 2, 0);
  EXPECT_EQ(breakpoints_page().w.selected_row, 2);
  EXPECT_TRUE(sensitive(breakpoints_page().w.remove_button));
  gtk_clist_unselect_row(GTK_CLIST(breakpoints_page().w.list), 2, 0);
  EXPECT_EQ(breakpoints_page().w.selected_row, -1);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));

  // Redrawing from the table asks the debugger nothing and drops the selection.
  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 1, 0);
  refresh_breakpoints(1);
  EXPECT_EQ(sent().size(), 1u);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 3);
  EXPECT_EQ(breakpoints_page().w.selected_row, -1);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));

  // An empty list.
  replies(info_break({}));
  refresh_breakpoints(0);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button));

  // Offline, a refresh sends nothing and the list keeps what it shows.
  replies(info_break({one_of_each[0]}));
  refresh_breakpoints(0);
  link_seam().debugger_offline = 1;
  refresh_breakpoints(0);
  EXPECT_EQ(sent(), (std::vector<std::string>{"info break", "info break", "info break"}));
  EXPECT_EQ(row_count(breakpoints_page().w.list), 1);
}

TEST_F(BreakpointsPageTest, SensitivityFollowsTheLinkAndTheSelection) {
  online();
  replies(info_break({one_of_each[0], one_of_each[1]}));
  refresh_breakpoints(0);
  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 0, 0);

  set_breakpoints_sensitive(0);
  for (GtkWidget *w : {breakpoints_page().w.list, breakpoints_page().w.entry, breakpoints_page().w.add_button,
                       breakpoints_page().w.remove_button, breakpoints_page().w.remove_all_button})
    EXPECT_FALSE(sensitive(w));
  for (uint32_t i = 0; i < 3; i++) EXPECT_TRUE(sensitive(breakpoints_page().w.kind_group->buttons[i].button));

  set_breakpoints_sensitive(1);
  for (GtkWidget *w : {breakpoints_page().w.list, breakpoints_page().w.entry, breakpoints_page().w.add_button,
                       breakpoints_page().w.remove_button, breakpoints_page().w.remove_all_button})
    EXPECT_TRUE(sensitive(w));

  gtk_clist_unselect_row(GTK_CLIST(breakpoints_page().w.list), 0, 0);
  set_breakpoints_sensitive(1);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button)) << "no row selected";
}

TEST_F(BreakpointsPageTest, AddSendsTheSelectedKindWithTheTypedAddress) {
  online();
  struct Case {
    uint32_t kind;
    const char *text;
    bool by_enter;
    const char *line;
  } cases[] = {
      {0, "0x500", false, "pb 0x500"},
      {1, "0x1000", true, "lb 0x1000"},
      {2, "0x8:0x100", false, "vb 0x8:0x100"},
      {0, "  7c00 ", true, "pb 7c00"},  // the blanks around it go
      {2, "8:10", false, "vb 8:10"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.line);
    size_t before = sent().size();
    // The add's prompt, then the list read again.
    replies(prompt() + info_break({one_of_each[0]}));
    select_kind(c.kind);
    type_into(breakpoints_page().w.entry, c.text);
    if (c.by_enter)
      activate(breakpoints_page().w.entry);
    else
      click(breakpoints_page().w.add_button);
    EXPECT_EQ(sent_since(before), (std::vector<std::string>{c.line, "info break"}));
    EXPECT_EQ(unread(), "");
    EXPECT_EQ(entry_text(breakpoints_page().w.entry), "");
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(breakpoints_page().w.message)), "");
    EXPECT_EQ(rows(), (std::vector<std::string>{"|Physical|00000500"}));
  }
}

TEST_F(BreakpointsPageTest, TextThatIsNoAddressIsRefusedWithItsReasonAndNothingIsSent) {
  online();
  struct Case {
    uint32_t kind;
    std::string text;
    const char *message;
  } cases[] = {
      {0, "", "Type an address first, in hexadecimal, such as 7c00 or 0x7c00"},
      {0, "hello", "\"hello\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {0, "12345678901", "The address \"12345678901\" does not fit in 32 bits"},
      {1, std::string(5000, 'A'), "The address \"AAAAAAAAAAAAAAAAAAAAAAAA...\" does not fit in 32 bits"},
      {2, "7c00", "A virtual address needs its segment: SEGMENT:OFFSET, such as 0000:7c00"},
      // A second command can never ride along.
      {0, "0x7c00;q", "\"0x7c00;q\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {0, "0x500\nq", "\"0x500?q\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {1, "0x600\r\nc", "\"0x600??c\" is no address: type hexadecimal, such as 7c00 or 0x7c00"},
      {2, "8:10\tpb 0", "\"10?pb 0\" is no offset: type hexadecimal, such as 7c00 or 0x7c00"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    size_t before = sent().size();
    select_kind(c.kind);
    type_into(breakpoints_page().w.entry, c.text);
    click(breakpoints_page().w.add_button);
    EXPECT_EQ(sent_since(before), std::vector<std::string>{}) << "nothing is sent";
    EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(breakpoints_page().w.message)), c.message);
    EXPECT_EQ(entry_text(breakpoints_page().w.entry), c.text) << "the text is kept for correction";
  }
}

TEST_F(BreakpointsPageTest, RemoveDeletesTheSelectedBreakpointByItsNumber) {
  online();
  replies(info_break({"  7 pbreakpoint keep y 0x500", "  9 lbreakpoint keep y 0x600"}));
  refresh_breakpoints(0);
  replies(prompt() + info_break({"  7 pbreakpoint keep y 0x500"}));
  gtk_clist_select_row(GTK_CLIST(breakpoints_page().w.list), 1, 0);
  click(breakpoints_page().w.remove_button);
  EXPECT_EQ(sent(), (std::vector<std::string>{"info break", "d 9", "info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(rows(), (std::vector<std::string>{"|Physical|00000500"}));
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_button));
}

TEST_F(BreakpointsPageTest, RemoveAllDeletesTheFirstEntryUntilTheListIsEmpty) {
  online();
  const std::string a = "  3 pbreakpoint keep y 0x500", b = "  5 lbreakpoint keep y 0x600",
                    c = "  9 vbreakpoint keep y 0x8:0x10";
  replies(info_break({a, b, c}));
  refresh_breakpoints(0);
  replies(prompt() + info_break({b, c}) + prompt() + info_break({c}) + prompt() + info_break({}));
  click(breakpoints_page().w.remove_all_button);
  EXPECT_EQ(sent(), (std::vector<std::string>{"info break", "d 3", "info break", "d 5",
                                              "info break", "d 9", "info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
  EXPECT_FALSE(sensitive(breakpoints_page().w.remove_all_button));

  // With nothing live nothing is sent.
  gtk_button_clicked(GTK_BUTTON(breakpoints_page().w.remove_all_button));
  EXPECT_EQ(sent().size(), 7u);
}

TEST_F(BreakpointsPageTest, RemoveAllGivesUpAfterThirtyDeletesAClick) {
  online();
  const std::string stuck = "  4 pbreakpoint keep y 0x500";
  replies(info_break({stuck}));
  refresh_breakpoints(0);
  // A debugger that never deletes; the script has more answers than needed.
  std::string script;
  for (int i = 0; i < 31; i++) script += prompt() + info_break({stuck});
  replies(script);
  click(breakpoints_page().w.remove_all_button);
  std::vector<std::string> expected;
  for (int i = 0; i < 30; i++) {
    expected.push_back("d 4");
    expected.push_back("info break");
  }
  EXPECT_EQ(sent_since(1), expected);
  EXPECT_EQ(row_count(breakpoints_page().w.list), 1);
}

TEST_F(BreakpointsPageTest, ReloadSetsEachBreakpointAgainWithItsOwnKind) {
  online();
  replies(info_break({one_of_each[0], one_of_each[1], one_of_each[2],
                      "  4 vbreakpoint    keep y   0x12345:0x1"}));
  refresh_breakpoints(0);
  select_kind(1);

  // A new debugger: one prompt for each add, then its list.
  replies(prompt() + prompt() + prompt() + prompt() +
          info_break({"  1 pbreakpoint keep y 0x500", "  2 lbreakpoint keep y 0x1f3a5",
                      "  3 vbreakpoint keep y 0x0008:0x0100", "  4 vbreakpoint keep y 0x12345:0x1"}));
  reload_breakpoints_now();
  EXPECT_EQ(sent_since(1),
            (std::vector<std::string>{"pb 0x00000500", "lb 0x0001F3A5", "vb 0x0008:0x00000100",
                                      // a segment wider than four digits is sent whole
                                      "vb 0x12345:0x00000001", "info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(breakpoints_page().w.kind_group->selected, 1u);
  for (uint32_t i = 0; i < 3; i++)
    EXPECT_EQ(active(breakpoints_page().w.kind_group->buttons[i].button), i == 1);
  EXPECT_EQ(entry_text(breakpoints_page().w.entry), "");
  EXPECT_EQ(row_count(breakpoints_page().w.list), 4);
  EXPECT_EQ(cell(breakpoints_page().w.list, 3, 2), "12345:00000001");
}

TEST_F(BreakpointsPageTest, ReloadWithTheSettingOffOnlyReadsTheList) {
  online();
  replies(info_break({one_of_each[0], one_of_each[2]}));
  refresh_breakpoints(0);
  settings.reload_breakpoints = 0;
  replies(info_break({}));
  reload_breakpoints_now();
  EXPECT_EQ(sent_since(1), (std::vector<std::string>{"info break"}));
  EXPECT_EQ(unread(), "");
  EXPECT_EQ(row_count(breakpoints_page().w.list), 0);
}

TEST_F(BreakpointsPageTest, AHitMarksAndSelectsItsRowOnly) {
  online();
  replies(info_break({"  4 pbreakpoint keep y 0x500", "  6 lbreakpoint keep y 0x600",
                      "  8 pbreakpoint keep n 0x700", " 10 pbreakpoint keep y 0x800"}));
  refresh_breakpoints(0);
  ASSERT_EQ(row_count(breakpoints_page().w.list), 2);

  set_breakpoints_sensitive(0);  // as while the target runs
  refresh_breakpoints(1);
  mark_breakpoint_hit(6);
  EXPECT_EQ(rows(), (std::vector<std::string>{"|Physical|00000500", "X|Linear|00000600"}));
  EXPECT_EQ(breakpoints_page().w.selected_row, 1);
  set_breakpoints_sensitive(1);  // stopped again
  EXPECT_TRUE(sensitive(breakpoints_page().w.remove_button));
  GList *selection = GTK_CLIST(breakpoints_page().w.list)->selection;
  ASSERT_NE(selection, nullptr);
  EXPECT_EQ(GPOINTER_TO_INT(selection->data), 1);

  // Numbers not in the live list: the unknown one, and one past a disabled entry.
  for (uint32_t number : {5u, 10u}) {
    refresh_breakpoints(1);
    mark_breakpoint_hit(number);
    EXPECT_EQ(rows(), (std::vector<std::string>{"|Physical|00000500", "|Linear|00000600"}))
        << number;
    EXPECT_EQ(breakpoints_page().w.selected_row, -1) << number;
  }
  EXPECT_EQ(sent().size(), 1u) << "marking asks the debugger nothing";
}
