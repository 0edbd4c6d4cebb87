// The widget builders and button groups on real widgets.
#include "kit/widget_kit.hpp"
#include "support/gui_fixture.hpp"

class WidgetKitTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    init_toolkit();
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    box = gtk_vbox_new(FALSE, 5);
    gtk_container_add(GTK_CONTAINER(window), box);
    gtk_widget_show_all(window);
  }

  ButtonGroup *make_group(uint32_t count = 3) {
    static const char *const labels[] = {" Physical ", " Linear ", " Virtual ", " Fourth "};
    ButtonGroup *g = add_button_group(box, 1, 0, count, labels);
    g->callback = count_callback;
    callbacks = 0;
    return g;
  }

  static void count_callback(ButtonGroup *group) {
    callbacks++;
    seen_selected = group->selected;
  }

  std::vector<bool> pressed(ButtonGroup *g) {
    std::vector<bool> out;
    for (uint32_t i = 0; i < g->count; i++) out.push_back(active(g->buttons[i].button));
    return out;
  }

  GtkWidget *window = nullptr, *box = nullptr;
  static int callbacks;
  static uint32_t seen_selected;
};
int WidgetKitTest::callbacks = 0;
uint32_t WidgetKitTest::seen_selected = 99;

TEST_F(WidgetKitTest, NewGroupHasItsFirstButtonPressedAndMadeNoCallback) {
  static const char *const labels[] = {" Read ", " Write "};
  ButtonGroup *g = add_button_group(box, 1, 0, 2, labels);
  EXPECT_EQ(g->selected, 0u);
  EXPECT_EQ(g->count, 2u);
  EXPECT_EQ(g->callback, nullptr);
  EXPECT_EQ(pressed(g), (std::vector<bool>{true, false}));
  EXPECT_EQ(button_label(g->buttons[1].button), " Write ");
  // A row: the buttons sit in a horizontal box packed into the caller's box.
  EXPECT_TRUE(GTK_IS_HBOX(gtk_widget_get_parent(g->buttons[0].button)));
}

TEST_F(WidgetKitTest, ClicksAndSelectsMoveThePressedButton) {
  struct Step {
    const char *what;
    bool click;       // click the button, or button_group_select with the index
    uint32_t index;
    uint32_t selected_after;
    int callbacks_after;
    std::vector<bool> pressed_after;
  } steps[] = {
      {"click the pressed button", true, 0, 0, 0, {true, false, false}},
      {"click another", true, 2, 2, 1, {false, false, true}},
      {"click it again", true, 2, 2, 1, {false, false, true}},
      {"select the current", false, 2, 2, 1, {false, false, true}},
      {"select out of range", false, 3, 2, 1, {false, false, true}},
      {"select far out of range", false, 1000, 2, 1, {false, false, true}},
      {"select a new one", false, 1, 1, 2, {false, true, false}},
      {"click after a select", true, 0, 0, 3, {true, false, false}},
  };
  ButtonGroup *g = make_group();
  for (const Step &s : steps) {
    if (s.click)
      click(g->buttons[s.index].button);
    else
      button_group_select(g, s.index);
    EXPECT_EQ(g->selected, s.selected_after) << s.what;
    EXPECT_EQ(callbacks, s.callbacks_after) << s.what;
    EXPECT_EQ(pressed(g), s.pressed_after) << s.what;
    if (callbacks > 0) {
      EXPECT_EQ(seen_selected, g->selected) << "the callback sees the new index";
    }
  }
}

TEST_F(WidgetKitTest, ClickingThePressedButtonLeavesOtherGroupsWorking) {
  ButtonGroup *a = make_group();
  static const char *const labels[] = {" Hex ", " Decimal "};
  ButtonGroup *b = add_button_group(box, 0, 0, 2, labels);
  click(a->buttons[0].button);
  click(b->buttons[0].button);
  click(b->buttons[1].button);
  EXPECT_EQ(b->selected, 1u);
  EXPECT_EQ(pressed(b), (std::vector<bool>{false, true}));
  click(a->buttons[1].button);
  EXPECT_EQ(a->selected, 1u);
  EXPECT_EQ(callbacks, 1);
}

TEST_F(WidgetKitTest, BuildersPackShowAndSize) {
  GtkWidget *row = add_hbox(box, 0);
  EXPECT_TRUE(GTK_IS_HBOX(row));
  EXPECT_TRUE(GTK_WIDGET_VISIBLE(row));
  EXPECT_EQ(gtk_box_get_spacing(GTK_BOX(row)), 5);
  EXPECT_FALSE(gtk_box_get_homogeneous(GTK_BOX(row)));

  GtkWidget *entry = add_entry(row, 1, 75);
  gboolean expand, fill;
  guint padding;
  GtkPackType pack;
  gtk_box_query_child_packing(GTK_BOX(row), entry, &expand, &fill, &padding, &pack);
  EXPECT_TRUE(expand);
  EXPECT_TRUE(fill);
  EXPECT_EQ(padding, 0u);
  int w, h;
  gtk_widget_get_size_request(entry, &w, &h);
  EXPECT_EQ(w, 75);
  EXPECT_EQ(h, 20);

  GtkWidget *button = add_button(row, 0, " Go ");
  gtk_widget_get_size_request(button, &w, &h);
  EXPECT_EQ(h, 20);
  EXPECT_EQ(w, 0);
  gtk_box_query_child_packing(GTK_BOX(row), button, &expand, &fill, &padding, &pack);
  EXPECT_FALSE(expand);
  EXPECT_FALSE(fill);

  GtkWidget *check = add_check_button(row, 0, "Reload", 1);
  EXPECT_TRUE(active(check));
  GtkWidget *label = add_label(row, 0, "Physical address", 1);
  EXPECT_TRUE(gtk_label_get_line_wrap(GTK_LABEL(label)));

  static const char *const titles[] = {"ESP", "Value", "EBP"};
  GtkWidget *list = add_sized_list(box, 3, titles, 150, 140);
  EXPECT_TRUE(GTK_IS_CLIST(list));
  EXPECT_EQ(GTK_CLIST(list)->columns, 3);
  EXPECT_EQ(GTK_CLIST(list)->selection_mode, GTK_SELECTION_SINGLE);
  EXPECT_FALSE(GTK_CLIST_SHOW_TITLES(GTK_CLIST(list)));
  GtkWidget *scrolled = gtk_widget_get_parent(list);
  gtk_widget_get_size_request(scrolled, &w, &h);
  EXPECT_EQ(w, 150);
  EXPECT_EQ(h, 140);
  GtkPolicyType hp, vp;
  gtk_scrolled_window_get_policy(GTK_SCROLLED_WINDOW(scrolled), &hp, &vp);
  EXPECT_EQ(hp, GTK_POLICY_AUTOMATIC);
  EXPECT_EQ(vp, GTK_POLICY_AUTOMATIC);
}

TEST(ButtonGroupDeath, NoMemoryForAGroupEndsVumWithStatus1) {
  GuiTest::init_toolkit();
  GtkWidget *box = gtk_vbox_new(FALSE, 0);
  // A group of no buttons cannot be made, like one whose memory cannot be had.
  EXPECT_EXIT(add_button_group(box, 0, 0, 0, NULL), ::testing::ExitedWithCode(1),
              "");
}
