// The CPU state panel, the stack view and the marks of what changed, against
// the simulated PC set up by state files, through real pipes.
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <gdk/gdkkeysyms.h>

#include "exec/control_bar.hpp"
#include "kit/widget_kit.hpp"
#include "link/debugger_child.hpp"
#include "shell/main_window.hpp"
#include "support/gui_fixture.hpp"
#include "views/cpu_state_panel.hpp"
#include "views/stack_view.hpp"
#include "exec/run_control.hpp"
#include "link/link_state.hpp"
#include "text/settings.hpp"

namespace {

// Protected mode with a flat 32-bit code and stack segment from the table.
const char *const protected_state =
    "cr0 0x11\n"
    "gdtr.base 0x1000\n"
    "gdtr.limit 0x17\n"
    "mem 0x1000 0000000000000000\n"
    "mem 0x1008 ffff0000009acf00\n"  // 0008: flat 32-bit code
    "mem 0x1010 ffff00000092cf00\n"  // 0010: flat 32-bit data, B set
    "cs.selector 0x08\n"
    "ss.selector 0x10\n"
    "ds.selector 0x10\n"
    "es.selector 0x10\n"
    "eip 0x2000\n"
    "mem 0x2000 90 90 90 90\n";

class ViewsTest : public GuiTest {
 protected:
  void TearDown() override {
    unsetenv("VUM_SIM_STATE");
    GuiTest::TearDown();
  }

  // The simulated PC starts from this state (applied after the demo loads).
  void state(const std::string &text) {
    std::string path = work_dir + "/state";
    std::ofstream(path) << text;
    setenv("VUM_SIM_STATE", path.c_str(), 1);
  }

  void show_panel() {
    if (!state_panel_shown()) click(main_window().show_state_button);
    ASSERT_TRUE(state_panel_shown());
  }

  std::string reg(RegisterEntry e) const { return entry_text(state_panel().register_entry[e]); }

  std::vector<std::string> column(GtkWidget *list, int c) const {
    std::vector<std::string> out;
    for (int r = 0; r < row_count(list); r++) out.push_back(cell(list, r, c));
    return out;
  }

  int selected_row(GtkWidget *list) const {
    GList *s = GTK_CLIST(list)->selection;
    return s ? GPOINTER_TO_INT(s->data) : -1;
  }

  int count_in_transcript(const std::string &prefix) const {
    int n = 0;
    for (const std::string &l : transcript()) n += l.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
};

}  // namespace

TEST_F(ViewsTest, ThePanelIsBuiltHiddenInFiveColumns) {
  build_window();
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(main_window().state_panel));
  GList *columns = gtk_container_get_children(GTK_CONTAINER(state_panel().columns));
  EXPECT_EQ(g_list_length(columns), 5u);
  g_list_free(columns);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "Stack");
  EXPECT_TRUE(GTK_CLIST_SHOW_TITLES(GTK_CLIST(state_panel().stack_list)));
  EXPECT_FALSE(GTK_CLIST_SHOW_TITLES(GTK_CLIST(state_panel().flags_list)));
  // Each entry is wide enough for its widest value in its own font.
  struct Widest {
    RegisterEntry entry;
    const char *text;
  } widest[] = {{entry_cs, "0000  invalid"}, {entry_ldtr, "0000  invalid"}, {entry_gdtr, "00000000  (FFFFF)"},
                {entry_eax, "FFFFFFFF"},     {entry_cr0, "FFFFFFFF"},       {entry_dr7, "FFFFFFFF"}};
  for (const Widest &w : widest) {
    GtkWidget *e = state_panel().register_entry[w.entry];
    PangoLayout *layout = gtk_widget_create_pango_layout(e, w.text);
    int text_width, text_height;
    pango_layout_get_pixel_size(layout, &text_width, &text_height);
    g_object_unref(layout);
    GtkRequisition asked;
    gtk_widget_size_request(e, &asked);
    EXPECT_GE(asked.width, text_width + 2 * e->style->xthickness + 4) << register_labels[w.entry];
  }
  // The registers the debugger can set are editable; the others are not.
  EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(state_panel().register_entry[entry_eax])));
  EXPECT_TRUE(gtk_editable_get_editable(GTK_EDITABLE(state_panel().register_entry[entry_eflags])));
  EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(state_panel().register_entry[entry_cs])));
  EXPECT_FALSE(gtk_editable_get_editable(GTK_EDITABLE(state_panel().register_entry[entry_cr0])));

  // Shown while offline: the stored values, nothing read.
  click(main_window().show_state_button);
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(main_window().state_panel));
  EXPECT_EQ(button_label(main_window().show_state_button), " Hide State ");
  EXPECT_EQ(reg(entry_eax), "00000000");
  EXPECT_EQ(reg(entry_cs), "0000  invalid");
  EXPECT_EQ(row_count(state_panel().flags_list), 21);
  EXPECT_EQ(row_count(state_panel().stack_list), 0);
  EXPECT_EQ(read_file(transcript_path), "");
  click(main_window().show_state_button);
  EXPECT_FALSE(GTK_WIDGET_VISIBLE(main_window().state_panel));
  EXPECT_EQ(button_label(main_window().show_state_button), " Show State ");
}

TEST_F(ViewsTest, EveryStopReadsTheRegistersButAHiddenPanelStaysAsItWas) {
  build_window();
  start_bochs();
  click(control_bar().step_button);
  EXPECT_TRUE(wait_for_transcript({"s", "dump_cpu", "info break", "watch", "s", "dump_cpu"}));
  EXPECT_EQ(state_panel().cpu.eip, 0x7C01u) << "the record follows every stop";
  EXPECT_EQ(reg(entry_eip), "") << "hidden: no entry is written";
  EXPECT_EQ(row_count(state_panel().flags_list), 0);
  EXPECT_EQ(count_in_transcript("x "), 0) << "hidden: no stack element is read";

  show_panel();  // showing reads the registers again and the stack
  EXPECT_EQ(reg(entry_eip), "7C01");
  EXPECT_EQ(reg(entry_cs), "0000  valid");
  EXPECT_EQ(count_in_transcript("dump_cpu"), 3);
  EXPECT_GT(row_count(state_panel().stack_list), 0);
  EXPECT_EQ(count_in_transcript("x /1hx "), row_count(state_panel().stack_list)) << "one read per element";
  click(control_bar().step_button);
  EXPECT_EQ(reg(entry_eip), "7C03");
}

TEST_F(ViewsTest, RegistersFlagsAndTheSixteenBitStackOfTheDemo) {
  state("eax 0xabc\nesp 0xfff8\nebp 0xfff0\nss.selector 0x9000\neflags 0x3202\n"
        "gdtr.base 0x1000\ngdtr.limit 0x27\n"
        "mem 0x9fff8 3412\n");
  build_window();
  start_bochs();
  show_panel();
  EXPECT_EQ(reg(entry_eax), "00000ABC");
  EXPECT_EQ(reg(entry_esp), "FFF8");
  EXPECT_EQ(reg(entry_ebp), "FFF0");
  EXPECT_EQ(reg(entry_ss), "9000  valid");
  EXPECT_EQ(reg(entry_gdtr), "00001000  (00027)");
  EXPECT_EQ(reg(entry_eflags), "00003202");
  std::vector<std::string> flags = column(state_panel().flags_list, 0);
  ASSERT_EQ(flags.size(), 21u);
  EXPECT_EQ(flags[1], "1");   // bit 1
  EXPECT_EQ(flags[9], "1");   // Interrupt
  EXPECT_EQ(flags[12], "3");  // IOPL
  EXPECT_EQ(cell(state_panel().flags_list, 12, 1), "IOPL");
  EXPECT_EQ(flags[6], "0");   // Zero

  // Each element at offset a is read at 0x90000 + a; the five above 0xFFFF
  // are read but not listed, so the list starts at +6.
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "16bit Stack");
  std::vector<std::string> t = transcript();
  std::vector<std::string> reads;
  for (const std::string &l : t)
    if (l.compare(0, 3, "x /") == 0) reads.push_back(l);
  ASSERT_EQ(reads.size(), 13u);
  EXPECT_EQ(reads.front(), "x /1hx 0xA0008");
  EXPECT_EQ(reads[8], "x /1hx 0x9FFF8");
  EXPECT_EQ(reads.back(), "x /1hx 0x9FFF0");
  EXPECT_EQ(column(state_panel().stack_list, 0),
            (std::vector<std::string>{"+6", "+4", "+2", "TOS", "-2", "-4", "-6", "-8"}));
  EXPECT_EQ(cell(state_panel().stack_list, 3, 1), "1234");
  EXPECT_EQ(cell(state_panel().stack_list, 3, 2), "+8");
  EXPECT_EQ(selected_row(state_panel().stack_list), 3);
}

TEST_F(ViewsTest, AFlatThirtyTwoBitStackWithTheDefaults) {
  state(std::string(protected_state) + "esp 0x9000\nebp 0x9010\nmem 0x9000 78563412\n");
  build_window();
  start_bochs();
  show_panel();
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "32bit Stack");
  EXPECT_EQ(column(state_panel().stack_list, 0),
            (std::vector<std::string>{"+32", "+28", "+24", "+20", "+16", "+12", "+8", "+4", "TOS",
                                      "-4", "-8", "-12", "-16"}));
  EXPECT_EQ(cell(state_panel().stack_list, 8, 1), "12345678");
  EXPECT_EQ(cell(state_panel().stack_list, 8, 2), "-16");
  EXPECT_EQ(selected_row(state_panel().stack_list), 8);
  EXPECT_EQ(reg(entry_esp), "00009000") << "the B bit makes ESP eight digits";
  EXPECT_EQ(reg(entry_eip), "00002001");
  EXPECT_TRUE(transcript_has("x /1wx 0x9020"));
  EXPECT_TRUE(transcript_has("x /1wx 0x8FF0"));
}

TEST_F(ViewsTest, TheWalkStopsAtOffsetZeroAndNeverWraps) {
  struct Case {
    const char *what;
    std::string state;
    std::vector<std::string> rows;
  } cases[] = {
      {"32-bit, ESP 4", std::string(protected_state) + "esp 4\n",
       {"+32", "+28", "+24", "+20", "+16", "+12", "+8", "+4", "TOS", "-4"}},
      {"16-bit, ESP 3", "esp 3\nss.selector 0\n",
       {"+16", "+14", "+12", "+10", "+8", "+6", "+4", "+2", "TOS", "-2"}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    state(c.state);
    build_window();
    start_bochs();
    show_panel();
    EXPECT_EQ(column(state_panel().stack_list, 0), c.rows);
    click(main_window().start_button);  // Kill
    click(main_window().show_state_button);
  }
}

TEST_F(ViewsTest, CountsOfZeroAHiddenRefreshAndABoundOnCountsGoneWild) {
  build_window();
  start_bochs();
  show_panel();
  settings.stack_above = 0;
  settings.stack_below = 0;
  refresh_stack();
  EXPECT_EQ(column(state_panel().stack_list, 0), std::vector<std::string>{"TOS"});
  EXPECT_EQ(selected_row(state_panel().stack_list), 0);

  // A refresh from the Preferences page while the panel is hidden fills the
  // hidden list all the same.
  click(main_window().show_state_button);
  settings.stack_above = 2;
  refresh_stack();
  EXPECT_EQ(column(state_panel().stack_list, 0), (std::vector<std::string>{"+4", "+2", "TOS"}));

  // A count gone wild (a negative number typed in) reads no more than the
  // bound on either side.
  int before = count_in_transcript("x /1hx ");
  settings.stack_above = 0xFFFFFFFF;
  settings.stack_below = 0xFFFFFFFF;
  refresh_stack();
  int read = count_in_transcript("x /1hx ") - before;
  EXPECT_LE(read, (int)(2 * stack_walk_limit + 1));
  EXPECT_GT(read, 100);
  EXPECT_FALSE(link_seam().debugger_offline);
  click(control_bar().step_button);  // the dialogue is still in step
  EXPECT_EQ(current_location().physical_address, 0x7C01u);
}

TEST_F(ViewsTest, NoStackIsReadForAnInvalidSegmentOrABaseThatOverflows) {
  state(std::string(protected_state) + "esp 0x9000\nss.valid 0\n");
  build_window();
  start_bochs();
  show_panel();
  EXPECT_EQ(count_in_transcript("x "), 0);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "Stack");
  click(main_window().start_button);

  // A 32-bit stack whose base plus its limit overflows: the message, nothing
  // read, the label and list as they were.
  state(std::string(protected_state) +
        "esp 0x9000\nss.selector 0x10\nss.base 0x1000\nss.limit 0xfffff\nss.access 0x93\n"
        "ss.db 1\nss.g 1\nss.valid 1\n");
  start_bochs();
  EXPECT_EQ(count_in_transcript("x "), 0);
  EXPECT_NE(printed.find("VUM: failed to calculate stack base, stack not updated.\n"), std::string::npos);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "Stack");
}

TEST_F(ViewsTest, AStepThatChangesEaxZfAndOneStackWordMarksExactlyThose) {
  // 7bff nop; 7c00 call 7c10; 7c03 nop ... 7c10 sub ax, ax; ret.
  // Before the call: EAX 0x1234, flags with PF set and ZF clear, so that the
  // sub changes EAX and ZF only; the call leaves its return address in the
  // word below ESP.
  state("cs.selector 0\neip 0x7bff\nesp 0x7000\nss.selector 0\neax 0x1234\neflags 0x6\n"
        "mem 0x7bff 90 e80d00 90\nmem 0x7c10 29c0 c3\n");
  build_window();
  start_bochs();  // the first stop (after the nop): nothing is marked
  show_panel();
  for (int e = 0; e < register_entries; e++) EXPECT_FALSE(entry_marked(state_panel().register_entry[e])) << e;
  for (int r = 0; r < row_count(state_panel().flags_list); r++) EXPECT_FALSE(row_marked(state_panel().flags_list, r)) << r;
  for (int r = 0; r < row_count(state_panel().stack_list); r++) EXPECT_FALSE(row_marked(state_panel().stack_list, r)) << r;
  ASSERT_EQ(current_location().physical_address, 0x7C00u);

  click(control_bar().next_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  ASSERT_EQ(current_location().physical_address, 0x7C03u);
  std::vector<int> marked_entries;
  for (int e = 0; e < register_entries; e++)
    if (entry_marked(state_panel().register_entry[e])) marked_entries.push_back(e);
  EXPECT_EQ(marked_entries, std::vector<int>{entry_eax});
  EXPECT_EQ(reg(entry_eax), "00000000") << "the text stays as it is formatted";
  std::vector<std::string> flags;
  for (int r = 0; r < row_count(state_panel().flags_list); r++)
    if (row_marked(state_panel().flags_list, r)) flags.push_back(cell(state_panel().flags_list, r, 1));
  EXPECT_EQ(flags, std::vector<std::string>{"Zero"});
  std::vector<std::string> words;
  for (int r = 0; r < row_count(state_panel().stack_list); r++)
    if (row_marked(state_panel().stack_list, r)) words.push_back(cell(state_panel().stack_list, r, 0) + "=" + cell(state_panel().stack_list, r, 1));
  EXPECT_EQ(words, std::vector<std::string>{"-2=7C03"});

  // A step that changes nothing of these takes the marks away.
  click(control_bar().step_button);
  for (int e = 0; e < register_entries; e++) EXPECT_FALSE(entry_marked(state_panel().register_entry[e])) << e;
  for (int r = 0; r < row_count(state_panel().stack_list); r++) EXPECT_FALSE(row_marked(state_panel().stack_list, r)) << r;

  // A new debugger starts with no marks, even where its values differ.
  click(main_window().start_button);
  unsetenv("VUM_SIM_STATE");
  start_bochs();
  for (int e = 0; e < register_entries; e++) EXPECT_FALSE(entry_marked(state_panel().register_entry[e])) << e;
  for (int r = 0; r < row_count(state_panel().flags_list); r++) EXPECT_FALSE(row_marked(state_panel().flags_list, r)) << r;
}

namespace {

// The pixels of a widget drawn anew into an image of its own (whatever
// covers it on the screen).
std::vector<guchar> pixels_of(GtkWidget *w) {
  std::vector<guchar> out;
  GdkPixmap *drawn = gtk_widget_get_snapshot(w, NULL);
  if (drawn == NULL) return out;
  int width, height;
  gdk_pixmap_get_size(drawn, &width, &height);
  GdkPixbuf *shot = gdk_pixbuf_get_from_drawable(NULL, drawn, NULL, 0, 0, 0, 0, width, height);
  g_object_unref(drawn);
  if (shot == NULL) return out;
  int rowstride = gdk_pixbuf_get_rowstride(shot), n = gdk_pixbuf_get_n_channels(shot);
  const guchar *p = gdk_pixbuf_get_pixels(shot);
  for (int y = 0; y < gdk_pixbuf_get_height(shot); y++)
    out.insert(out.end(), p + y * rowstride, p + y * rowstride + gdk_pixbuf_get_width(shot) * n);
  g_object_unref(shot);
  return out;
}

}  // namespace

// A mark is a state of the entry rather than a style of its own: the entry
// must look exactly as one whose text colour was set the usual way.
TEST_F(ViewsTest, AMarkedEntryLooksAsATextColourChangeWouldDrawIt) {
  state("cs.selector 0\neip 0x7bff\nesp 0x7000\nss.selector 0\neax 0x1234\neflags 0x6\n"
        "mem 0x7bff 90 e80d00 90\nmem 0x7c10 29c0 c3\n");
  build_window();
  start_bochs();
  show_panel();
  click(control_bar().next_button);
  ASSERT_TRUE(pump_until([] { return !target_running(); }));
  GtkWidget *eax = state_panel().register_entry[entry_eax];
  GtkWidget *ebx = state_panel().register_entry[entry_ebx];
  ASSERT_TRUE(entry_marked(eax));
  ASSERT_FALSE(entry_marked(ebx));

  // References: plain entries of the same size in a window of their own,
  // one with its text colour set by gtk_widget_modify_text.
  GtkWidget *window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWidget *column = gtk_vbox_new(FALSE, 0), *row = gtk_hbox_new(FALSE, 0);
  gtk_container_add(GTK_CONTAINER(window), column);
  gtk_box_pack_start(GTK_BOX(column), row, FALSE, FALSE, 0);
  GtkWidget *marked = gtk_entry_new(), *plain = gtk_entry_new();
  GtkRequisition eax_size;
  gtk_widget_size_request(eax, &eax_size);
  for (GtkWidget *e : {marked, plain}) {
    use_monospace(e);
    gtk_widget_set_usize(e, eax_size.width, 20);
    gtk_entry_set_editable(GTK_ENTRY(e), FALSE);
    gtk_box_pack_start(GTK_BOX(row), e, FALSE, FALSE, 0);
  }
  gtk_widget_modify_text(marked, GTK_STATE_NORMAL, &changed_colour);
  gtk_entry_set_text(GTK_ENTRY(marked), gtk_entry_get_text(GTK_ENTRY(eax)));
  gtk_entry_set_text(GTK_ENTRY(plain), gtk_entry_get_text(GTK_ENTRY(ebx)));
  gtk_widget_show_all(window);
  ASSERT_TRUE(pump_until([&] {
    return GTK_WIDGET_MAPPED(marked) && GTK_WIDGET_MAPPED(plain) && GTK_WIDGET_MAPPED(eax) &&
           eax->allocation.width > 1;
  }));
  ASSERT_EQ(eax->allocation.width, marked->allocation.width);
  ASSERT_EQ(eax->allocation.height, marked->allocation.height);
  std::vector<guchar> drawn_eax = pixels_of(eax);
  ASSERT_FALSE(drawn_eax.empty());
  EXPECT_TRUE(drawn_eax == pixels_of(marked)) << "a marked entry is drawn as a red-text entry";
  EXPECT_TRUE(pixels_of(ebx) == pixels_of(plain)) << "an unmarked entry is drawn as a plain one";
  EXPECT_FALSE(drawn_eax == pixels_of(plain)) << "the mark shows";
}

// Moving a mark draws the entry again and nothing more: the window is not
// laid out anew (which a change of the entry's style would cause).
TEST_F(ViewsTest, MovingMarksLaysNothingOutAgain) {
  // l: inc ax; nop; jmp l -- EAX and the flags change at every third step.
  state("cs.selector 0\neip 0x7c00\nesp 0x7000\nss.selector 0\nmem 0x7c00 40 90 ebfc\n");
  build_window();
  start_bochs();
  show_panel();
  // The History page fills up first: its scroll bar comes and the window
  // is laid out for it once.
  for (int i = 0; i < 60; i++) click(control_bar().step_button);
  pump_for(200);
  int layouts = 0, marks_moved = 0;
  g_signal_connect(main_window().window, "size-allocate", G_CALLBACK(+[](GtkWidget *, GtkAllocation *, int *n) {
                     ++*n;
                   }),
                   &layouts);
  bool was_marked = entry_marked(state_panel().register_entry[entry_eax]);
  for (int i = 0; i < 6; i++) {
    click(control_bar().step_button);
    bool marked = entry_marked(state_panel().register_entry[entry_eax]);
    marks_moved += marked != was_marked;
    was_marked = marked;
    pump_for(50);
  }
  EXPECT_GE(marks_moved, 3);
  EXPECT_EQ(layouts, 0);
}

// Shown, the panel gets all the room it asks for on a 1024 x 768 screen:
// every register whole, every flag in view, thirteen stack rows and the
// stack's three columns, without scrolling; the pages give up height.
// Hidden again, the window goes back to its size.
TEST_F(ViewsTest, ThePanelFitsAScreenOf1024By768AndHidingGivesTheRoomBack) {
  state("esp 0xffd0\nebp 0xfff0\n");
  build_window();
  settings.stack_above = 20;
  settings.stack_below = 20;
  GtkWidget *window = main_window().window;
  pump_until([&] { return window->allocation.width > 1 && main_window().height > 1; });
  const int width = main_window().width, height = main_window().height;
  start_bochs();
  show_panel();
  pump_until([&] { return main_window().height > height; });
  pump_for(200);
  const GtkAllocation &all = window->allocation;
  EXPECT_LE(all.width, 1024);
  EXPECT_LE(all.height, 768 - 28) << "room for a title bar";
  for (int e = 0; e < register_entries; e++) {
    GtkWidget *entry = state_panel().register_entry[e];
    GtkRequisition asked;
    gtk_widget_size_request(entry, &asked);
    int x, y;
    ASSERT_TRUE(gtk_widget_translate_coordinates(entry, window, 0, 0, &x, &y));
    EXPECT_GE(entry->allocation.width, asked.width) << register_labels[e];
    EXPECT_LE(x + entry->allocation.width, all.width) << register_labels[e];
    EXPECT_LE(y + entry->allocation.height, all.height) << register_labels[e];
  }
  GtkCList *flags = GTK_CLIST(state_panel().flags_list);
  for (int r = 0; r < eflags_rows; r++) EXPECT_TRUE(row_fully_visible(state_panel().flags_list, r)) << r;
  EXPECT_GE(flags->clist_window_width, column_width(state_panel().flags_list, 0) +
                                           column_width(state_panel().flags_list, 1))
      << "the names are not cut";
  GtkCList *stack = GTK_CLIST(state_panel().stack_list);
  ASSERT_GT(row_count(state_panel().stack_list), 13);
  EXPECT_GE(stack->clist_window_height, 13 * (stack->row_height + 1)) << "thirteen rows in view";
  int columns = 0;
  for (int c = 0; c < 3; c++) columns += column_width(state_panel().stack_list, c) + 7;
  EXPECT_GE(stack->clist_window_width, columns) << "ESP, Value and EBP in view";
  int x, y;
  ASSERT_TRUE(gtk_widget_translate_coordinates(state_panel().flags_list->parent, window, 0, 0, &x, &y));
  EXPECT_LE(x + state_panel().flags_list->parent->allocation.width, all.width);
  EXPECT_GT(main_window().notebook->allocation.height, 100) << "the pages keep some rows";

  click(main_window().show_state_button);
  pump_until([&] { return main_window().height == height; });
  EXPECT_EQ(main_window().width, width);
  EXPECT_EQ(main_window().height, height);
}

// A register entry that the debugger can set: Enter sets it and shows the
// value read back; a refused text says why, sends nothing and stays.
TEST_F(ViewsTest, ARegisterIsSetByEnterAndReadBack) {
  build_window();
  start_bochs();
  show_panel();
  GtkWidget *eax = state_panel().register_entry[entry_eax];
  const size_t before = transcript().size();

  struct Refused {
    const char *typed;
    const char *message;
  } refused[] = {
      {"hello", "\"hello\" is no value for EAX: type hexadecimal, such as 1f or 0x1f"},
      {"123456789", ""},
      {"", ""},
      {"-1", ""},
  };
  for (const Refused &r : refused) {
    type_into(eax, r.typed);
    activate(eax);
    const std::string said = gtk_label_get_text(GTK_LABEL(state_panel().message));
    EXPECT_NE(said, "") << r.typed;
    if (r.message[0]) {
      EXPECT_EQ(said, r.message);
    }
    EXPECT_EQ(entry_text(eax), r.typed) << "kept for correction";
    EXPECT_EQ(transcript().size(), before) << r.typed << ": nothing sent";
  }

  // The lines sent since the last mark.
  size_t mark = before;
  auto sent = [&] {
    std::vector<std::string> all = transcript(), lines(all.begin() + (long)mark, all.end());
    mark = all.size();
    return lines;
  };
  type_into(eax, "0x1234abcd");
  activate(eax);
  EXPECT_EQ(sent(), (std::vector<std::string>{"set eax = 0x1234ABCD", "dump_cpu"}));
  EXPECT_EQ(reg(entry_eax), "1234ABCD");
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().message))), "");
  EXPECT_EQ(state_panel().cpu.eax, 0x1234ABCDu);

  // What is shown is what the debugger holds: EFLAGS keeps its bit 1.
  GtkWidget *eflags = state_panel().register_entry[entry_eflags];
  type_into(eflags, "0");
  activate(eflags);
  EXPECT_EQ(sent(), (std::vector<std::string>{"set eflags = 0x0", "dump_cpu"}));
  EXPECT_EQ(reg(entry_eflags), "00000002");

  // ESP moves the stack: it is read again around the new top.
  GtkWidget *esp = state_panel().register_entry[entry_esp];
  type_into(esp, "fff0");
  activate(esp);
  std::vector<std::string> lines = sent();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 2),
            (std::vector<std::string>{"set esp = 0xFFF0", "dump_cpu"}));
  EXPECT_TRUE(transcript_has("x /1hx 0xFFF0")) << "the new top of stack is read";
  EXPECT_EQ(cell(state_panel().stack_list, selected_row(state_panel().stack_list), 0), "TOS");

  // The next stop shows what the step left.
  click(control_bar().step_button);
  EXPECT_EQ(reg(entry_eax), "1234ABCD");
}

// Escape puts back the value last read; while the target runs nothing is set.
TEST_F(ViewsTest, EscapePutsTheValueBackAndARunningTargetIsNotSet) {
  build_window();
  start_bochs();
  show_panel();
  GtkWidget *ebx = state_panel().register_entry[entry_ebx];
  type_into(ebx, "55");
  GdkEventKey escape = {};
  escape.type = GDK_KEY_PRESS;
  escape.window = ebx->window;
  escape.keyval = GDK_Escape;
  gboolean handled = FALSE;
  g_signal_emit_by_name(ebx, "key_press_event", &escape, &handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(entry_text(ebx), "00000000");

  click(control_bar().go_button);
  ASSERT_TRUE(pump_until([] { return !debugger_waits(); }));
  const size_t before = transcript().size();
  type_into(ebx, "55");
  activate(ebx);
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().message))),
            "Registers can be set only while the target is stopped");
  EXPECT_EQ(transcript().size(), before);
  click(control_bar().stop_button);
}

// The places a label's text was drawn away from the middle of the label.
static std::vector<std::string> off_centre;

static gboolean note_title_place(GtkWidget *label, GdkEventExpose *, gpointer) {
  PangoRectangle text;
  pango_layout_get_pixel_extents(gtk_label_get_layout(GTK_LABEL(label)), NULL, &text);
  int x = 0, y = 0;
  gtk_label_get_layout_offsets(GTK_LABEL(label), &x, &y);
  int centred = label->allocation.x + (label->allocation.width - text.width) / 2 - text.x;
  if (abs(x - centred) > 1)
    off_centre.push_back(std::string(gtk_label_get_text(GTK_LABEL(label))) + " at " + std::to_string(x) +
                         ", centred at " + std::to_string(centred));
  return FALSE;
}

// What a stop leaves in the window is what the window shows drawn afresh.
// A stop may change the stack's title and then scroll the stack list, which
// makes the toolkit draw the whole window at once, before it has laid the
// window out again: the title must still be drawn centred in its place (a
// title placed by the width of its old text was left half drawn over, as
// "16bitbit Stack"), and no picture moved with the stack may be left wrong.
TEST_F(ViewsTest, AfterEveryStopTheWindowLooksAsDrawnAfresh) {
  build_window();
  show_panel();
  // The window's contents go into a window off the screen, as large as the
  // main window on a screen of 1024 by 768, whose pixels the windows of tests
  // running beside this one cannot cover.
  GtkWidget *offscreen = gtk_offscreen_window_new();
  gtk_widget_set_size_request(offscreen, 1000, 740);
  gtk_widget_reparent(gtk_bin_get_child(GTK_BIN(main_window().window)), offscreen);
  gtk_widget_show(offscreen);
  drawn();
  // Where the title's text is drawn each time it is, against the middle of
  // its place.
  off_centre.clear();
  g_signal_connect(state_panel().stack_label, "expose-event", G_CALLBACK(note_title_place), NULL);
  auto drawn_afresh = [&] {
    gtk_widget_queue_draw(offscreen);
    drawn();
    return offscreen_pixels(offscreen);
  };
  start_bochs();
  drawn();
  std::vector<guchar> shown = offscreen_pixels(offscreen);
  ASSERT_FALSE(shown.empty());
  EXPECT_EQ(std::string(gtk_label_get_text(GTK_LABEL(state_panel().stack_label))), "16bit Stack");
  EXPECT_TRUE(shown == drawn_afresh()) << "after the first stop";
  // Through the demo's calls, pushes and pops: the stack moves both ways.
  for (int step = 1; step <= 16; step++) {
    click(control_bar().step_button);
    drawn();
    shown = offscreen_pixels(offscreen);
    EXPECT_TRUE(shown == drawn_afresh()) << "after step " << step;
  }
  EXPECT_EQ(off_centre, std::vector<std::string>{}) << "the stack's title drawn off its place";
  gtk_widget_destroy(offscreen);
}
