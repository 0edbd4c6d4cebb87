// The list sizer rewriting every row of a list whose values moved up or down
// by whole rows, as the stack's do when its top moves: the picture of the
// moving columns is moved with them, and the list looks exactly as one given
// its rows at once.
#include "kit/list_sizer.hpp"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "support/gui_fixture.hpp"

namespace {

const GdkColor red = {0, 0xCCCC, 0x0000, 0x0000};

// A stack of 13 rows around its top, as the stack view shows it: offsets
// from the top (the same at every stop), the values, their offsets from a
// frame pointer, and the values that changed since the stop before in red.
struct Stack {
  std::vector<unsigned> memory = std::vector<unsigned>(64);
  int top = 32;          // index of the top of stack in `memory`
  int frame = 36;        // and of the frame pointer
  int width = 4;         // hex digits of a value
  std::vector<unsigned> before = memory;

  static const int rows = 13, above = 8;

  struct Texts {
    char offset[12], value[12], frame[12];
    bool changed;
  };

  std::vector<Texts> texts() const {
    std::vector<Texts> out(rows);
    for (int i = 0; i < rows; i++) {
      int at = top + above - i;
      Texts &t = out[i];
      if (i == above)
        snprintf(t.offset, sizeof t.offset, "TOS");
      else
        snprintf(t.offset, sizeof t.offset, "%+d", (above - i) * 4);
      snprintf(t.value, sizeof t.value, "%0*X", width, memory[at]);
      snprintf(t.frame, sizeof t.frame, "%+d", (at - frame) * 4);
      t.changed = memory[at] != before[at];
    }
    return out;
  }

  // A new stop: `pushed` values pushed (or popped, when negative), one
  // value below the top changed.
  void stop(int pushed, unsigned salt) {
    before = memory;
    for (int k = 0; k < pushed; k++) memory[top - 1 - k] = 0x1000 + salt * 16 + k;
    top -= pushed;
    memory[top + 2] ^= 0x0F0F;
  }
};

// A list in a window off the screen (no other test's window can cover it),
// tall enough for every row or, `scrolled`, showing the middle ones.
struct List {
  GtkWidget *window = nullptr, *clist = nullptr;
  ListSizer sizer;

  explicit List(bool scrolled = false) {
    window = gtk_offscreen_window_new();
    gtk_widget_set_size_request(window, 260, scrolled ? 150 : 300);
    GtkWidget *box = gtk_scrolled_window_new(NULL, NULL);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(box), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(window), box);
    static const char *titles[3] = {"ESP", "Value", "EBP"};
    clist = gtk_clist_new_with_titles(3, const_cast<gchar **>(titles));
    gtk_container_add(GTK_CONTAINER(box), clist);
    sizer.attach(clist, ListSizer::Measure::by_character);
    gtk_widget_show_all(window);
  }
  ~List() { gtk_widget_destroy(window); }

  static std::vector<ListSizer::Row> rows_of(const std::vector<Stack::Texts> &texts) {
    std::vector<ListSizer::Row> rows;
    for (const Stack::Texts &t : texts) rows.push_back({{t.offset, t.value, t.frame}, t.changed ? &red : NULL});
    return rows;
  }

  void fill(const Stack &stack) {
    std::vector<Stack::Texts> texts = stack.texts();
    sizer.begin(texts.size());
    for (const ListSizer::Row &row : rows_of(texts)) sizer.add(row.cells.data(), row.foreground);
    sizer.finish();
    select_top();
  }

  bool update(const Stack &stack) {
    std::vector<Stack::Texts> texts = stack.texts();
    bool done = sizer.update_rows(rows_of(texts), 1);
    select_top();
    return done;
  }

  void select_top() {
    GtkCList *list = GTK_CLIST(clist);
    if (list->selection == NULL || GPOINTER_TO_INT(list->selection->data) != Stack::above)
      gtk_clist_select_row(list, Stack::above, 0);
  }

  void scroll_to(double fraction) {
    GtkAdjustment *v = gtk_clist_get_vadjustment(GTK_CLIST(clist));
    gtk_adjustment_set_value(v, (v->upper - v->page_size) * fraction);
  }

  // The y of row `row`'s top in the list's window.
  int row_y(int row) const {
    GtkCList *list = GTK_CLIST(clist);
    return list->voffset + row * (list->row_height + 1) + 1;
  }
};

}  // namespace

class ListSizerTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    init_toolkit();
  }

  std::vector<guchar> pixels(const List &list) { return offscreen_pixels(list.window); }

  // A new list given the stack's rows at once, scrolled as `like` is.
  std::vector<guchar> given_at_once(const Stack &stack, const List &like, bool scrolled) {
    List fresh(scrolled);
    fresh.fill(stack);
    drawn();
    GtkAdjustment *v = gtk_clist_get_vadjustment(GTK_CLIST(like.clist));
    gtk_adjustment_set_value(gtk_clist_get_vadjustment(GTK_CLIST(fresh.clist)), v->value);
    drawn();
    return pixels(fresh);
  }

  // The colour of the pixel at (x, y) of the list's window, as 0xRRGGBB.
  unsigned pixel_at(const List &list, int x, int y) {
    GdkPixbuf *shot = gtk_offscreen_window_get_pixbuf(GTK_OFFSCREEN_WINDOW(list.window));
    if (shot == NULL) return 0;
    int wx = 0, wy = 0;
    gtk_widget_translate_coordinates(list.clist, list.window, 0, 0, &wx, &wy);
    int rows_x = 0, rows_y = 0;  // the rows' window, under the titles
    gdk_window_get_position(GTK_CLIST(list.clist)->clist_window, &rows_x, &rows_y);
    wx += rows_x;
    wy += rows_y;
    const guchar *p = gdk_pixbuf_get_pixels(shot) + (wy + y) * gdk_pixbuf_get_rowstride(shot) +
                      (wx + x) * gdk_pixbuf_get_n_channels(shot);
    unsigned colour = p[0] << 16 | p[1] << 8 | p[2];
    g_object_unref(shot);
    return colour;
  }
};

// Pushes and pops of one and of several values, values changed in place (no
// move), all rows but one moved, and a list scrolled to show its middle
// rows: each time the list looks as one given its rows at once.
TEST_F(ListSizerTest, AStackWhoseTopMovedLooksAsOneGivenItsRowsAtOnce) {
  struct Case {
    const char *what;
    int pushed;
    bool scrolled;
  } cases[] = {
      {"one pushed", 1, false},
      {"one popped", -1, false},
      {"three pushed", 3, false},
      {"two popped", -2, false},
      {"none pushed, a value changed", 0, false},
      {"twelve pushed", 12, false},
      {"one pushed, scrolled", 1, true},
      {"two popped, scrolled", -2, true},
  };
  for (const Case &c : cases) {
    Stack stack;
    for (size_t i = 0; i < stack.memory.size(); i++) stack.memory[i] = 0x100 + (unsigned)i * 0x11;
    stack.before = stack.memory;
    List list(c.scrolled);
    list.fill(stack);
    drawn();
    if (c.scrolled) {
      list.scroll_to(0.5);
      drawn();
      ASSERT_NE(GTK_CLIST(list.clist)->voffset, 0) << c.what;
    }
    // Twice: the second stop's red marks are the first stop's, moved.
    for (int round = 0; round < 2; round++) {
      stack.stop(c.pushed, (unsigned)round + 1);
      ASSERT_TRUE(list.update(stack)) << c.what;
      drawn();
      EXPECT_TRUE(pixels(list) == given_at_once(stack, list, c.scrolled)) << c.what << ", stop " << round + 1;
    }
  }
}

// A value wider than its column widens it: the list is drawn again whole,
// and looks as one given its rows at once.
TEST_F(ListSizerTest, AWiderValueWidensItsColumn) {
  Stack stack;
  List list;
  list.fill(stack);
  drawn();
  int narrow = GTK_CLIST(list.clist)->column[1].width;
  stack.width = 8;
  stack.stop(1, 5);
  ASSERT_TRUE(list.update(stack));
  drawn();
  EXPECT_GT(GTK_CLIST(list.clist)->column[1].width, narrow);
  EXPECT_TRUE(pixels(list) == given_at_once(stack, list, false));
}

// The values' picture is moved, not drawn again: a mark made on a row's value
// goes up a row with it when a value is pushed, while the offsets column
// stays where it was drawn.
TEST_F(ListSizerTest, ThePictureOfTheValuesMovesWithThem) {
  Stack stack;
  for (size_t i = 0; i < stack.memory.size(); i++) stack.memory[i] = 0x200 + (unsigned)i;
  stack.before = stack.memory;
  List list;
  list.fill(stack);
  drawn();
  GtkCList *clist = GTK_CLIST(list.clist);
  const int row = 3, x = clist->column[1].area.x + 2, offsets_x = clist->column[0].area.x + 2;
  const int height = clist->row_height;
  GdkGC *gc = gdk_gc_new(clist->clist_window);
  GdkColor green = {0, 0, 0xFFFF, 0};
  gdk_gc_set_rgb_fg_color(gc, &green);
  gdk_draw_rectangle(clist->clist_window, gc, TRUE, x, list.row_y(row) + 2, 4, 4);
  gdk_draw_rectangle(clist->clist_window, gc, TRUE, offsets_x, list.row_y(row) + 2, 4, 4);
  g_object_unref(gc);
  drawn();
  ASSERT_EQ(pixel_at(list, x + 1, list.row_y(row) + 3), 0x00FF00u);

  // Pushed: row 3's value is now row 2's; nothing else of either changed.
  stack.before = stack.memory;
  stack.memory[stack.top - 1] = 0x3333;
  stack.top -= 1;
  ASSERT_TRUE(list.update(stack));
  drawn();
  EXPECT_EQ(pixel_at(list, x + 1, list.row_y(row - 1) + 3), 0x00FF00u) << "the value's mark moved up a row";
  EXPECT_NE(pixel_at(list, x + 1, list.row_y(row) + 3), 0x00FF00u);
  EXPECT_EQ(pixel_at(list, offsets_x + 1, list.row_y(row) + 3), 0x00FF00u) << "the offsets stayed";
  EXPECT_GT(height, 6);
}
