// The Structures page and the structure and list windows, against the
// simulated PC through real pipes, with memory laid out by each test and the
// exact commands the debugger received.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "exec/control_bar.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/points_script.hpp"
#include "support/settings_fixture.hpp"
#include "views/struct_windows.hpp"
#include "link/link_state.hpp"

namespace {

class StructWindowTest : public SettingsTest {
 protected:
  // Builds the window with the definitions and starts the debugger; the
  // commands of the start are taken as seen.
  void start_with(const std::string &config) {
    write_config(config);
    build_window();
    start_bochs();
    ASSERT_TRUE(wait_for_transcript(start_lines));
    new_commands();
  }

  static std::vector<uint8_t> counting(uint8_t first, int n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < n; i++) out.push_back((uint8_t)(first + i));
    return out;
  }
};

const std::vector<GtkJustification> structure_justification = {
    GTK_JUSTIFY_CENTER, GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_LEFT};
const std::vector<GtkJustification> list_justification = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                                          GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_LEFT};

}  // namespace

TEST_F(StructWindowTest, TheStructuresPageListsEachDefinition) {
  write_config(
      "{struct header 7c00 magic 2 \\\\ 0 flags 4 count 1 }\n"
      "{list entries 8000 16 start 4 length 4 kind 4 link 4 }\n"
      "{list one 10 1 x 4 }\n");
  build_window();
  EXPECT_EQ(column_titles(structures_list()), (Lines{"Open", "Base", "Elements", "Fields", "Name"}));
  EXPECT_EQ(justifications(structures_list()),
            (std::vector<GtkJustification>{GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER,
                                           GTK_JUSTIFY_RIGHT, GTK_JUSTIFY_RIGHT,
                                           GTK_JUSTIFY_LEFT}));
  EXPECT_TRUE(GTK_CLIST_SHOW_TITLES(GTK_CLIST(structures_list())));
  EXPECT_EQ(rows(structures_list()), (Lines{"|00007C00|1|4|header", "|00008000|16|4|entries",
                                       "|00000010|1|1|one"}));
  int row = 0;
  for (StructDef *d = struct_defs.first; d; d = d->next, row++) EXPECT_EQ(def_at(row), d);
  EXPECT_EQ(row, 3);
  // Offline, the list waits for the debugger.
  EXPECT_FALSE(sensitive(structures_list()));
}

TEST_F(StructWindowTest, AStructureReadsEachFieldAtItsOffset) {
  put_memory(0x3000, counting(0x10, 16));
  start_with("{struct rec 3000\n a 2\n b 4\n c 1\n}\n");
  EXPECT_TRUE(sensitive(structures_list()));
  StructDef *def = open_row(0);
  ASSERT_NE(def->window, nullptr);
  EXPECT_EQ(window_title(def->window), "VUM - Structure - rec");
  EXPECT_EQ(column_titles(def->list), (Lines{"Base", "Field", "Value"}));
  EXPECT_EQ(justifications(def->list), structure_justification);
  EXPECT_TRUE(GTK_CLIST_SHOW_TITLES(GTK_CLIST(def->list)));
  EXPECT_EQ(box_contents(gtk_widget_get_parent(def->refresh_button)),
            (Lines{"label:", "button: Refresh ", "button: Close "}));
  EXPECT_EQ(def->start_entry, nullptr);
  EXPECT_EQ(def->total_entry, nullptr);
  // Sizes 2, 4, 1: offsets 0, 2 and 6, little-endian values.
  EXPECT_EQ(rows(def->list), (Lines{"00003000||", "|a|= 1110", "|b|= 15141312", "|c|= 16"}));
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x3000", "x /1wx 0x3002", "x /1bx 0x3006"}));
  EXPECT_EQ(rows(structures_list()), (Lines{"X|00003000|1|3|rec"}));
  EXPECT_EQ(GTK_CLIST(structures_list())->selection, nullptr) << "the clicked row is unselected";

  // Refresh reads them all again.
  click(def->refresh_button);
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x3000", "x /1wx 0x3002", "x /1bx 0x3006"}));
  EXPECT_EQ(rows(def->list).size(), 4u);
}

TEST_F(StructWindowTest, EightByteValuesSeparatorsAndInvalidSizes) {
  std::vector<uint8_t> bytes = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55,  // q
                                0xaa, 0xbb,                                      // w
                                0x01, 0x02, 0x03,                                // t: never read
                                0xcc};                                           // u
  put_memory(0x4000, bytes);
  start_with("{struct mix 4000\n q 8\n \\\\ 0\n w 2\n \\\\gap 4\n t 3\n u 1\n}\n");
  const char *message =
      "VUM: encountered a structure value with a non power of 2 size, or a size larger than 8 "
      "bytes.\n";
  StructDef *def = open_row(0);
  // The separators read nothing and move no offset; the field of size 3 is
  // not read but moves the next one 3 bytes on.
  const Lines shown = {"00004000||",  "|q|= 5566778811223344", "||", "|w|= BBAA", "||",
                       "|t|<invalid size>", "|u|= CC"};
  EXPECT_EQ(rows(def->list), shown);
  EXPECT_EQ(new_commands(), (Lines{"x /2wx 0x4000", "x /1hx 0x4008", "x /1bx 0x400D"}));
  EXPECT_EQ(printed.find(message), printed.rfind(message));
  ASSERT_NE(printed.find(message), std::string::npos);
  // At every refresh, again.
  printed.clear();
  click(def->refresh_button);
  EXPECT_EQ(rows(def->list), shown);
  EXPECT_EQ(printed, message);
  EXPECT_EQ(new_commands(), (Lines{"x /2wx 0x4000", "x /1hx 0x4008", "x /1bx 0x400D"}));
}

TEST_F(StructWindowTest, ListElementsFollowEachOtherByTheElementSize) {
  put_memory(0x2000, counting(0x40, 33));
  // Sizes 2, 4, 1 and a separator of 4 that lengthens every element to 11.
  start_with("{list recs 2000 3\n a 2\n b 4\n \\\\ 4\n c 1\n}\n");
  StructDef *def = open_row(0);
  EXPECT_EQ(window_title(def->window), "VUM - List - recs");
  EXPECT_EQ(column_titles(def->list), (Lines{"Base", "Index", "Field", "Value"}));
  EXPECT_EQ(justifications(def->list), list_justification);
  EXPECT_EQ(box_contents(gtk_widget_get_parent(def->refresh_button)),
            (Lines{"label:Start", "entry", "label:Total", "entry", "button: Refresh ",
                   "button: Close "}));
  EXPECT_EQ(entry_text(def->start_entry), "0");
  EXPECT_EQ(entry_text(def->total_entry), "3");
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(def->start_entry)), 6);
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(def->total_entry)), 6);
  EXPECT_EQ(rows(def->list),
            (Lines{"00002000|(0)||", "||a|= 4140", "||b|= 45444342", "|||", "||c|= 46",
                   "0000200B|(1)||", "||a|= 4C4B", "||b|= 504F4E4D", "|||", "||c|= 51",
                   "00002016|(2)||", "||a|= 5756", "||b|= 5B5A5958", "|||", "||c|= 5C"}));
  EXPECT_EQ(new_commands(),
            (Lines{"x /1hx 0x2000", "x /1wx 0x2002", "x /1bx 0x2006", "x /1hx 0x200B",
                   "x /1wx 0x200D", "x /1bx 0x2011", "x /1hx 0x2016", "x /1wx 0x2018",
                   "x /1bx 0x201C"}));
}

TEST_F(StructWindowTest, StartAndTotalChooseTheElementsAndAreClamped) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 10; i++) bytes.insert(bytes.end(), {(uint8_t)i, 0, 0, 0xf0});
  put_memory(0x5000, bytes);
  start_with("{list arr 5000 10\n v 4\n}\n");
  StructDef *def = open_row(0);
  ASSERT_EQ(rows(def->list).size(), 20u);
  new_commands();

  struct Case {
    const char *start, *total;       // typed
    const char *shown_start, *shown_total;
    uint32_t first, count;           // elements shown
  } cases[] = {
      {"8", "5", "8", "2", 8, 2},
      {"12", "5", "0", "5", 0, 5},
      {"0", "0", "0", "10", 0, 10},
      {"0", "50", "0", "10", 0, 10},
      {"3", "", "3", "7", 3, 7},
      {"", "", "", "", 0, 10},      // nothing converts: all, and the entries stay empty
      {"2x", "1y", "2x", "1y", 2, 1},  // leading digits count; unchanged values are not rewritten
      {"9", "1", "9", "1", 9, 1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.start) + "/" + c.total);
    type_into(def->start_entry, c.start);
    type_into(def->total_entry, c.total);
    click(def->refresh_button);
    EXPECT_EQ(entry_text(def->start_entry), c.shown_start);
    EXPECT_EQ(entry_text(def->total_entry), c.shown_total);
    Lines want_rows, want_commands;
    for (uint32_t i = c.first; i < c.first + c.count; i++) {
      char element[40], value[40], command[40];
      snprintf(element, sizeof element, "%.8X|(%u)||", 0x5000 + 4 * i, i);
      snprintf(value, sizeof value, "||v|= F00000%.2X", i);
      snprintf(command, sizeof command, "x /1wx 0x%X", 0x5000 + 4 * i);
      want_rows.push_back(element);
      want_rows.push_back(value);
      want_commands.push_back(command);
    }
    EXPECT_EQ(rows(def->list), want_rows);
    EXPECT_EQ(new_commands(), want_commands);
  }
}

TEST_F(StructWindowTest, EntriesOfAListWithMoreThanSixDigitsOfElementsShowTheirRange) {
  write_config("{list huge 0 12345678 v 1 }\n");
  build_window();
  // Opened offline, so that nothing is read yet.
  StructDef *def = open_row(0);
  EXPECT_EQ(row_count(def->list), 0);
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(def->total_entry)), 8);
  EXPECT_EQ(gtk_entry_get_max_length(GTK_ENTRY(def->start_entry)), 8);
  EXPECT_EQ(entry_text(def->total_entry), "12345678");
  EXPECT_FALSE(sensitive(def->refresh_button));
  start_bochs();
  ASSERT_TRUE(wait_for_transcript(start_lines));
  new_commands();
  EXPECT_TRUE(sensitive(def->refresh_button));
  type_into(def->start_entry, "12345677");
  type_into(def->total_entry, "9");
  click(def->refresh_button);
  EXPECT_EQ(entry_text(def->start_entry), "12345677");
  EXPECT_EQ(entry_text(def->total_entry), "1");
  EXPECT_EQ(rows(def->list), (Lines{"00BC614D|(12345677)||", "||v|= 00"}));
  EXPECT_EQ(new_commands(), (Lines{"x /1bx 0xBC614D"}));
}

TEST_F(StructWindowTest, OpeningAgainOnlyUnselectsAndEitherCloseRemovesTheMark) {
  start_with("{struct s 100 a 1 }\n{struct t 200 b 1 }\n");
  StructDef *s = open_row(0);
  GtkWidget *first_window = s->window;
  ASSERT_NE(first_window, nullptr);
  EXPECT_EQ(new_commands(), (Lines{"x /1bx 0x100"}));

  // A click on the open definition's row: no second window, nothing read.
  open_row(0);
  EXPECT_EQ(s->window, first_window);
  EXPECT_EQ(GTK_CLIST(structures_list())->selection, nullptr);
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_EQ(cell(structures_list(), 0, 0), "X");
  EXPECT_EQ(cell(structures_list(), 1, 0), "");

  // " Close ".
  click(s->close_button);
  EXPECT_EQ(s->window, nullptr);
  EXPECT_EQ(cell(structures_list(), 0, 0), "");
  pump_for(50);

  // The window manager's close button, after opening again.
  open_row(0);
  ASSERT_NE(s->window, nullptr);
  EXPECT_EQ(cell(structures_list(), 0, 0), "X");
  close_by_window_manager(s->window);
  EXPECT_EQ(s->window, nullptr);
  EXPECT_EQ(cell(structures_list(), 0, 0), "");
  pump_for(50);

  // And a later click opens it once more.
  open_row(0);
  ASSERT_NE(s->window, nullptr);
  EXPECT_EQ(new_commands(), (Lines{"x /1bx 0x100", "x /1bx 0x100"}));
  EXPECT_EQ(rows(structures_list()), (Lines{"X|00000100|1|1|s", "|00000200|1|1|t"}));
  // Exactly one window of each open definition exists.
  int structure_windows = 0;
  GList *tops = gtk_window_list_toplevels();
  for (GList *w = tops; w; w = w->next)
    if (window_title(GTK_WIDGET(w->data)) == "VUM - Structure - s") structure_windows++;
  g_list_free(tops);
  EXPECT_EQ(structure_windows, 1);
}

TEST_F(StructWindowTest, RefreshFollowsTheDebuggerAndTheTarget) {
  put_memory(0x3000, counting(0x10, 4));
  start_with("{list l 3000 2 v 2 }\n");
  StructDef *def = open_row(0);
  const Lines shown = {"00003000|(0)||", "||v|= 1110", "00003002|(1)||", "||v|= 1312"};
  EXPECT_EQ(rows(def->list), shown);
  EXPECT_TRUE(sensitive(def->refresh_button));

  // The target runs: the list and Refresh wait; Close and the entries do not.
  click(control_bar().go_button);
  ASSERT_TRUE(target_running());
  EXPECT_FALSE(sensitive(structures_list()));
  EXPECT_FALSE(sensitive(def->refresh_button));
  EXPECT_TRUE(sensitive(def->close_button));
  EXPECT_TRUE(sensitive(def->start_entry));
  EXPECT_TRUE(sensitive(def->total_entry));
  refresh_struct_window(def);  // as if called: nothing is sent while it runs
  click(control_bar().stop_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  EXPECT_TRUE(sensitive(structures_list()));
  EXPECT_TRUE(sensitive(def->refresh_button));
  new_commands();

  // Offline: the window stays with its last values.
  click(main_window().start_button);
  ASSERT_TRUE(link_seam().debugger_offline);
  new_commands();
  EXPECT_FALSE(sensitive(structures_list()));
  EXPECT_FALSE(sensitive(def->refresh_button));
  EXPECT_TRUE(sensitive(def->close_button));
  refresh_struct_window(def);
  EXPECT_EQ(rows(def->list), shown);
  EXPECT_EQ(new_commands(), Lines{});

  // Online again: Refresh reads from the new debugger.
  start_bochs();
  EXPECT_TRUE(sensitive(def->refresh_button));
  new_commands();
  click(def->refresh_button);
  EXPECT_EQ(new_commands(), (Lines{"x /1hx 0x3000", "x /1hx 0x3002"}));
  EXPECT_EQ(rows(def->list), shown);
}

TEST_F(StructWindowTest, RefreshAllReadsEveryOpenWindowInListOrder) {
  put_memory(0x3000, counting(0x10, 8));
  start_with("{struct a 3000 v 1 }\n{struct b 3001 v 1 }\n{list c 3002 2 v 2 }\n");
  StructDef *c = open_row(2);
  StructDef *a = open_row(0);
  new_commands();
  click(main_window().refresh_all_button);
  // a before c, as they stand in the list; b is closed.
  EXPECT_EQ(new_commands(), (Lines{"x /1bx 0x3000", "x /1hx 0x3002", "x /1hx 0x3004"}));
  EXPECT_EQ(rows(a->list), (Lines{"00003000||", "|v|= 10"}));
  EXPECT_EQ(rows(c->list), (Lines{"00003002|(0)||", "||v|= 1312", "00003004|(1)||", "||v|= 1514"}));
  click(a->close_button);
  click(c->close_button);
  click(main_window().refresh_all_button);
  EXPECT_EQ(new_commands(), Lines{});
}

TEST_F(StructWindowTest, UnreadableValuesNoElementsAndNoFields) {
  put_memory(0xfffffd, {0x5a});
  start_with(
      "{struct edge fffffd b 1 w 4 }\n"
      "{list none 100 0 v 4 }\n"
      "{struct bare 6000 }\n"
      "{list bares 6000 3 }\n");
  // The word at FFFFFE runs past the end of memory: the debugger's error
  // gives no value.
  StructDef *edge = open_row(0);
  EXPECT_EQ(rows(edge->list), (Lines{"00FFFFFD||", "|b|= 5A", "|w|<unreadable>"}));
  EXPECT_EQ(new_commands(), (Lines{"x /1bx 0xFFFFFD", "x /1wx 0xFFFFFE"}));

  // A list without elements: nothing to read, and it says so.
  StructDef *none = open_row(1);
  EXPECT_EQ(window_title(none->window), "VUM - List - none");
  EXPECT_EQ(column_titles(none->list), (Lines{"Base", "Field", "Value"}));
  EXPECT_EQ(none->start_entry, nullptr);
  EXPECT_EQ(rows(none->list), (Lines{"||<no elements>"}));
  click(none->refresh_button);
  EXPECT_EQ(rows(none->list), (Lines{"||<no elements>"}));

  // Without fields, only the element rows.
  StructDef *bare = open_row(2);
  EXPECT_EQ(rows(bare->list), (Lines{"00006000||"}));
  StructDef *bares = open_row(3);
  EXPECT_EQ(rows(bares->list), (Lines{"00006000|(0)||", "00006000|(1)||", "00006000|(2)||"}));
  EXPECT_EQ(new_commands(), Lines{});
}

// Replies of other shapes than the simulated PC gives, from a scripted
// debugger: each field shows a value only when its reply scans, and every
// reply is read through its prompt.
class StructRepliesTest : public ScriptedDebuggerTest {};

TEST_F(StructRepliesTest, RepliesThatDoNotScanShowNoNumberAndKeepTheDialogueInStep) {
  {
    FILE *f = fopen(".vumrc", "w");
    ASSERT_NE(f, nullptr);
    fputs("{struct odd 10 a 4 b 4 c 8 d 8 e 2 f 1 }\n", f);
    fclose(f);
  }
  online();
  std::string script;
  script += "oops\n" + prompt();                                      // a: one word
  script += "0x10 <bogus+0>: 12345678\n" + prompt();                  // b: no 0x
  script += "0x18 <bogus+0>:\t0x11223344\n" + prompt();               // c: one word of two
  script += "0x20 <bogus+0>:\t0x11223344\t0x55667788\n" + prompt();   // d
  script += prompt();                                                 // e: the prompt alone
  script += "0x2a <bogus+0>:\t0x7\n" + prompt();                      // f
  replies(script);
  gtk_clist_select_row(GTK_CLIST(structures_list()), 0, 0);
  StructDef *def = struct_defs.first;
  ASSERT_NE(def->window, nullptr);
  std::vector<std::string> shown;
  for (int r = 0; r < row_count(def->list); r++)
    shown.push_back(cell(def->list, r, 1) + "|" + cell(def->list, r, 2));
  EXPECT_EQ(shown, (std::vector<std::string>{"|", "a|<unreadable>", "b|<unreadable>",
                                             "c|<unreadable>", "d|= 5566778811223344",
                                             "e|<unreadable>", "f|= 07"}));
  EXPECT_EQ(sent(), (std::vector<std::string>{"x /1wx 0x10", "x /1wx 0x14", "x /2wx 0x18",
                                              "x /2wx 0x20", "x /1hx 0x28", "x /1bx 0x2A"}));
  EXPECT_EQ(unread(), "");
}

TEST_F(StructWindowTest, ColumnsAreAsWideAsTheirWidestCellAndNarrowAgain) {
  std::vector<uint8_t> bytes(16, 0xdd);
  put_memory(0xfffff0, bytes);
  start_with("{list edge fffff0 4 gr\xc3\xb6\xc3\x9f" "e 8 }\n");
  StructDef *def = open_row(0);
  pump_for(100);  // laid out, so that the titles have their sizes
  auto pixels = [&](const std::string &text) {
    PangoLayout *layout = gtk_widget_create_pango_layout(def->list, text.c_str());
    pango_layout_set_font_description(layout, def->list->style->font_desc);
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, NULL, &logical);
    g_object_unref(layout);
    return logical.width;
  };
  auto check_widths = [&] {
    GtkCList *list = GTK_CLIST(def->list);
    for (int c = 0; c < list->columns; c++) {
      SCOPED_TRACE(c);
      int widest = 0;
      for (int r = 0; r < list->rows; r++) widest = std::max(widest, pixels(cell(def->list, r, c)));
      int title = list->column[c].button->requisition.width - 7;
      // As wide as the widest cell (kerning may make the sum of the
      // characters a pixel or so wider), and no narrower than the title.
      EXPECT_GE(list->column[c].width, widest);
      EXPECT_LE(list->column[c].width, std::max(widest + 2, title));
    }
  };
  // Elements 0 and 1 are read; 2 and 3 lie past the end of memory.
  type_into(def->start_entry, "0");
  type_into(def->total_entry, "2");
  click(def->refresh_button);
  EXPECT_EQ(cell(def->list, 1, 3), "= DDDDDDDDDDDDDDDD");
  check_widths();
  int wide = GTK_CLIST(def->list)->column[3].width;
  type_into(def->start_entry, "2");
  click(def->refresh_button);
  EXPECT_EQ(cell(def->list, 1, 3), "<unreadable>");
  EXPECT_EQ(cell(def->list, 1, 2), "gr\xc3\xb6\xc3\x9f" "e");
  check_widths();
  EXPECT_LT(GTK_CLIST(def->list)->column[3].width, wide) << "the Value column narrows";
}

// ---------------------------------------------------------------------------
// Lists long enough to be read in parts from the main loop.

namespace {

GtkWidget *button_labelled(GtkWidget *top, const char *label) {
  if (GTK_IS_BUTTON(top) && gtk_button_get_label(GTK_BUTTON(top)) &&
      strcmp(gtk_button_get_label(GTK_BUTTON(top)), label) == 0)
    return top;
  if (!GTK_IS_CONTAINER(top)) return NULL;
  GList *children = gtk_container_get_children(GTK_CONTAINER(top));
  GtkWidget *found = NULL;
  for (GList *c = children; c && !found; c = c->next) found = button_labelled(GTK_WIDGET(c->data), label);
  g_list_free(children);
  return found;
}

bool shown(GtkWidget *w) { return w != NULL && GTK_WIDGET_VISIBLE(w) && GTK_WIDGET_MAPPED(w); }

class LongListTest : public StructWindowTest {
 protected:
  void TearDown() override {
    unsetenv("VUM_SIM_DELAY_MS");
    StructWindowTest::TearDown();
  }
  void slow_replies(int ms) { setenv("VUM_SIM_DELAY_MS", std::to_string(ms).c_str(), 1); }
  static int element_count(const Lines &rows) {
    return (int)std::count_if(rows.begin(), rows.end(), [](const std::string &r) { return r[0] != '|'; });
  }
};

}  // namespace

TEST_F(LongListTest, AListReadInBatchesShowsEveryElementInOrder) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 3000; i++) bytes.push_back((uint8_t)(i * 7));
  put_memory(0x10000, bytes);
  start_with("{list big 10000 1000\n  a 1\n  \\\\ 0\n  b 2\n}\n");
  StructDef *def = open_row(0);
  ASSERT_TRUE(pump_until([&] { return sensitive(def->refresh_button); }, 60000));
  Lines commands = new_commands();
  ASSERT_EQ(commands.size(), 2000u);
  EXPECT_EQ(commands[0], "x /1bx 0x10000");
  EXPECT_EQ(commands[1], "x /1hx 0x10001");
  EXPECT_EQ(commands[1999], "x /1hx 0x10BB6");
  Lines shown_rows = rows(def->list);
  ASSERT_EQ(shown_rows.size(), 4000u);
  EXPECT_EQ(shown_rows[0], "00010000|(0)||");
  EXPECT_EQ(shown_rows[1], "||a|= 00");
  EXPECT_EQ(shown_rows[2], "|||");
  EXPECT_EQ(shown_rows[3], "||b|= 0E07");
  EXPECT_EQ(shown_rows[3996], "00010BB5|(999)||");
  EXPECT_EQ(shown_rows[3997], "||a|= F3");    // byte 2997 is 2997 * 7
  EXPECT_EQ(shown_rows[3999], "||b|= 01FA");  // bytes 2998 and 2999
  click(control_bar().step_button);
  EXPECT_EQ(transcript().back(), "dump_cpu");
}

TEST_F(LongListTest, ProgressCancelAndTheRowsReadSoFar) {
  slow_replies(5);
  start_with("{list slow 10000 2000\n  v 4\n}\n");
  StructDef *def = open_row(0);
  EXPECT_FALSE(sensitive(def->refresh_button)) << "still reading after the click";
  ASSERT_TRUE(pump_until([&] { return shown(button_labelled(def->window, " Cancel ")); }, 10000));
  for (GtkWidget *x : {control_bar().step_button, structures_list(), main_window().refresh_all_button})
    EXPECT_FALSE(sensitive(x));
  EXPECT_TRUE(sensitive(def->close_button));
  click(button_labelled(def->window, " Cancel "));
  Lines read = new_commands();
  Lines shown_rows = rows(def->list);
  EXPECT_GT(read.size(), 0u);
  EXPECT_LT(read.size(), 2000u);
  EXPECT_EQ(element_count(shown_rows), (int)read.size()) << "each element read has its rows";
  EXPECT_EQ(shown_rows.size(), 2 * read.size());
  EXPECT_EQ(button_labelled(def->window, " Cancel "), nullptr);
  pump_for(200);
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_TRUE(sensitive(def->refresh_button));
  EXPECT_TRUE(sensitive(control_bar().step_button));
  click(control_bar().step_button);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
}

TEST_F(LongListTest, RefreshAllReadsTheWindowsOneAfterTheOther) {
  slow_replies(2);
  start_with("{list slow 10000 500\n  v 4\n}\n{struct small 20000 w 2 }\n");
  StructDef *big = open_row(0);
  ASSERT_TRUE(pump_until([&] { return sensitive(big->refresh_button); }, 60000));
  StructDef *small = open_row(1);
  new_commands();
  click(main_window().refresh_all_button);
  ASSERT_TRUE(pump_until([&] { return sensitive(big->refresh_button) && sensitive(small->refresh_button); }, 60000));
  Lines commands = new_commands();
  ASSERT_EQ(commands.size(), 501u);
  EXPECT_EQ(commands.back(), "x /1hx 0x20000") << "the second window waits for the first";
  EXPECT_EQ(rows(small->list).size(), 2u);
  EXPECT_EQ(rows(big->list).size(), 1000u);
}

TEST_F(LongListTest, ClosingTheWindowEndsItsRead) {
  slow_replies(5);
  start_with("{list slow 10000 2000\n  v 4\n}\n");
  StructDef *def = open_row(0);
  ASSERT_TRUE(pump_until([&] { return shown(button_labelled(def->window, " Cancel ")); }, 10000));
  close_by_window_manager(def->window);
  EXPECT_EQ(def->window, nullptr);
  new_commands();
  pump_for(200);
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_TRUE(sensitive(structures_list()));
  // Opened again, it reads from the start; closed with its button, the
  // read ends as well.
  EXPECT_EQ(open_row(0), def);
  EXPECT_FALSE(sensitive(def->refresh_button));
  EXPECT_EQ(new_commands().front(), "x /1wx 0x10000");
  click(def->close_button);
  new_commands();
  pump_for(200);
  EXPECT_EQ(new_commands(), Lines{});
  EXPECT_TRUE(sensitive(control_bar().step_button));
}

TEST_F(StructWindowTest, AWindowThatFollowsStopsIsReadAfterEachStopAndOnlyThen) {
  put_memory(0x3000, counting(0x10, 8));
  start_with("{struct rec 3000\n a 2\n b 4\n}\n{struct other 3004\n c 1\n}\n");
  StructDef *rec = open_row(0);
  StructDef *other = open_row(1);
  new_commands();
  GtkWidget *follow = struct_follow_button(rec);
  ASSERT_NE(follow, nullptr);
  EXPECT_EQ(gtk_button_get_label(GTK_BUTTON(follow)), std::string("Refresh at each stop"));
  EXPECT_FALSE(active(follow)) << "off by default";
  EXPECT_FALSE(active(struct_follow_button(other)));
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(follow), TRUE);
  click(control_bar().step_button);
  ASSERT_TRUE(pump_until([&] { return !transcript().empty() && transcript().back() == "x /1wx 0x3002"; }));
  pump_for(200);
  Lines sent = new_commands();
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent.front(), "s");
  EXPECT_EQ(Lines(sent.end() - 3, sent.end()), (Lines{"dump_cpu", "x /1hx 0x3000", "x /1wx 0x3002"}))
      << "after the stop's own reads, once, and only the window that follows";

  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(follow), FALSE);
  click(control_bar().step_button);
  pump_for(300);
  EXPECT_EQ(new_commands(), (Lines{"s", "dump_cpu"}));
  // Closed, its box goes with it.
  click(rec->close_button);
  EXPECT_EQ(struct_follow_button(rec), nullptr);
}

TEST_F(StructWindowTest, ValuesAndTheRangeEntriesAreSetInAMonospaceFont) {
  put_memory(0x2000, counting(0x40, 8));
  start_with("{list recs 2000 2\n a 4\n}\n");
  StructDef *def = open_row(0);
  auto family = [](GtkWidget *w) {
    gtk_widget_ensure_style(w);
    const char *f = pango_font_description_get_family(w->style->font_desc);
    return std::string(f ? f : "");
  };
  for (GtkWidget *w : {structures_list(), def->list, def->start_entry, def->total_entry})
    EXPECT_EQ(family(w), "Monospace");
  EXPECT_NE(family(def->refresh_button), "Monospace");
}
