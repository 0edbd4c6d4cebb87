// The kit's row stream rolling: rows that go from the top as others come at
// the bottom move the picture up and draw only the rows that came, and the
// list looks exactly as one given its rows at once.
#include "kit/row_stream.hpp"

#include <memory>
#include <string>
#include <vector>

#include "support/gui_fixture.hpp"

namespace {

typedef std::array<std::string, 4> Texts;

// Row `n`'s texts: widths vary, as addresses and instructions do.
Texts texts_of(int n) {
  char physical[16], virt[24];
  snprintf(physical, sizeof physical, "%08X", 0x7c00 + n * 3);
  snprintf(virt, sizeof virt, "0000:%08X", 0x7c00 + n * 3);
  std::string text = n % 7 == 3 ? "repeated " + std::to_string(n) + " times" : "mov ax, 0x" + std::to_string(n * 17);
  return {physical, virt, n % 5 == 0 ? "" : std::string(2 * (1 + n % 4), 'e'), text};
}

// A list in a window off the screen (no other test's window can cover it).
struct List {
  GtkWidget *window = nullptr;
  RowStream stream;

  List() {
    window = gtk_offscreen_window_new();
    gtk_widget_set_size_request(window, 460, 220);
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);
    static const char *const titles[4] = {"Physical", "Virtual", "Bytes", "Instruction"};
    static const GtkJustification justify[4] = {GTK_JUSTIFY_CENTER, GTK_JUSTIFY_CENTER, GTK_JUSTIFY_LEFT,
                                                GTK_JUSTIFY_LEFT};
    stream.build(box, 4, titles, justify);
    gtk_widget_show_all(window);
  }
  ~List() { gtk_widget_destroy(window); }

  void append(int n) {
    Texts t = texts_of(n);
    const char *cells[4] = {t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str()};
    stream.append(cells);
  }

  void roll(int first, int count) {
    std::vector<Texts> texts;
    for (int n = first; n < first + count; n++) texts.push_back(texts_of(n));
    std::vector<std::array<const char *, RowStream::most_columns>> rows;
    for (const Texts &t : texts) rows.push_back({t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str()});
    stream.roll(rows);
  }

  GtkAdjustment *scrolling() const { return gtk_tree_view_get_vadjustment(GTK_TREE_VIEW(stream.view())); }
};

}  // namespace

class RowStreamTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    init_toolkit();
  }

  std::vector<guchar> pixels(const List &list) { return offscreen_pixels(list.window); }

  // A new list given rows first .. first + count - 1, the same row selected,
  // scrolled as `like` is: its pixels.
  std::vector<guchar> given_at_once(int first, int count, const List &like) {
    List fresh;
    for (int n = first; n < first + count; n++) fresh.append(n);
    drawn();
    fresh.stream.select(like.stream.selected());
    gtk_adjustment_set_value(fresh.scrolling(), gtk_adjustment_get_value(like.scrolling()));
    drawn();
    EXPECT_EQ(gtk_adjustment_get_value(fresh.scrolling()), gtk_adjustment_get_value(like.scrolling()));
    return pixels(fresh);
  }

  // The height of what the list's view drew, in all.
  static gboolean note_expose(GSignalInvocationHint *, guint, const GValue *values, gpointer data) {
    RowStreamTest *test = static_cast<RowStreamTest *>(data);
    if (g_value_get_object(&values[0]) == test->watched)
      test->drawn_height += ((GdkEventExpose *)g_value_get_boxed(&values[1]))->area.height;
    return TRUE;
  }

  GtkWidget *watched = nullptr;
  int drawn_height = 0;
};

// At its length, as the History page is after fifty steps: a row in at the
// bottom, selected and scrolled to, a row out at the top; now and then a row
// that is not selected (a message), and several at once (a trace).
TEST_F(RowStreamTest, ARollingListLooksAsOneGivenItsRowsAtOnce) {
  List list;
  for (int n = 0; n < 40; n++) list.append(n);
  list.stream.select(39);
  list.stream.scroll_to_last();
  drawn();
  int first = 0, last = 39;
  auto step = [&](int count, bool select) {
    list.roll(last + 1, count);
    first += count;
    last += count;
    if (select) list.stream.select(last - first);
    list.stream.scroll_to_last();
    drawn();
  };
  for (int i = 0; i < 6; i++) step(1, true);
  EXPECT_EQ(list.stream.rows(), 40);
  EXPECT_STREQ(list.stream.text(0, 0), texts_of(first)[0].c_str());
  EXPECT_STREQ(list.stream.text(39, 3), texts_of(last)[3].c_str());
  EXPECT_TRUE(pixels(list) == given_at_once(first, 40, list)) << "after single rows";

  // Not selected: the selection moves up with its row.
  step(1, false);
  EXPECT_EQ(list.stream.selected(), 38);
  EXPECT_TRUE(pixels(list) == given_at_once(first, 40, list)) << "after a row not selected";

  step(5, true);
  EXPECT_TRUE(pixels(list) == given_at_once(first, 40, list)) << "after five rows at once";

  // More rows at once than the list shows.
  step(30, true);
  EXPECT_TRUE(pixels(list) == given_at_once(first, 40, list)) << "after thirty rows at once";
}

// A list the user scrolled to its top keeps showing its first rows, with
// their new texts; the selection that went out at the top is gone.
TEST_F(RowStreamTest, AListScrolledAwayFromItsEndShowsTheRowsNowAtItsPlaces) {
  List list;
  for (int n = 0; n < 40; n++) list.append(n);
  list.stream.select(1);
  drawn();
  ASSERT_EQ(gtk_adjustment_get_value(list.scrolling()), 0);
  list.roll(40, 3);
  drawn();
  EXPECT_EQ(list.stream.selected(), -1);
  EXPECT_TRUE(pixels(list) == given_at_once(3, 40, list));
}

// What a roll draws: the row that came and the two whose selection changed,
// not the whole list.
TEST_F(RowStreamTest, ARollDrawsOnlyTheRowsThatChanged) {
  List list;
  for (int n = 0; n < 40; n++) list.append(n);
  list.stream.select(39);
  list.stream.scroll_to_last();
  drawn();
  GdkRectangle row;
  GtkTreePath *path = gtk_tree_path_new_from_indices(39, -1);
  gtk_tree_view_get_background_area(GTK_TREE_VIEW(list.stream.view()), path, NULL, &row);
  gtk_tree_path_free(path);
  ASSERT_GT(row.height, 0);
  int shown = list.stream.view()->allocation.height;
  ASSERT_GT(shown, 6 * row.height);

  watched = list.stream.view();
  g_type_class_ref(GTK_TYPE_WIDGET);
  guint expose = g_signal_lookup("expose-event", GTK_TYPE_WIDGET);
  gulong hook = g_signal_add_emission_hook(expose, 0, note_expose, this, NULL);
  list.roll(40, 1);
  list.stream.select(39);
  list.stream.scroll_to_last();
  drawn();
  g_signal_remove_emission_hook(expose, hook);
  EXPECT_GT(drawn_height, 0);
  EXPECT_LE(drawn_height, 3 * row.height) << "the list was drawn again, " << shown << " pixels high";
}
