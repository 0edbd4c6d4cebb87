// The kit's text line: what it shows, which part a new text redraws, and
// that a line changed many times looks exactly as one drawn once.
#include "kit/text_line.hpp"

#include <string>
#include <vector>

#include "support/gui_fixture.hpp"

class TextLineTest : public GuiTest {
 protected:
  void SetUp() override {
    GuiTest::SetUp();
    init_toolkit();
    changed = make_window(&window);
  }

  void TearDown() override {
    gtk_widget_destroy(window);
    GuiTest::TearDown();
  }

  // A window off the screen (the windows of tests running beside this one
  // on the same display cannot cover it), 400 pixels wide, with one line.
  GtkWidget *make_window(GtkWidget **made) {
    *made = gtk_offscreen_window_new();
    gtk_widget_set_size_request(*made, 400, -1);
    GtkWidget *box = gtk_vbox_new(FALSE, 0);
    gtk_container_add(GTK_CONTAINER(*made), box);
    GtkWidget *row = gtk_hbox_new(FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), row, FALSE, FALSE, 0);
    GtkWidget *line = add_text_line(row);
    gtk_widget_show_all(*made);
    drawn();
    return line;
  }

  // The line's pixels, row by row.
  std::vector<guchar> pixels(GtkWidget *line) {
    std::vector<guchar> out;
    GdkPixbuf *shot = gtk_offscreen_window_get_pixbuf(GTK_OFFSCREEN_WINDOW(gtk_widget_get_toplevel(line)));
    if (shot == NULL) return out;
    const GtkAllocation &a = line->allocation;
    int rowstride = gdk_pixbuf_get_rowstride(shot), channels = gdk_pixbuf_get_n_channels(shot);
    const guchar *p = gdk_pixbuf_get_pixels(shot);
    if (a.x >= 0 && a.y >= 0 && a.x + a.width <= gdk_pixbuf_get_width(shot) &&
        a.y + a.height <= gdk_pixbuf_get_height(shot))
      for (int y = a.y; y < a.y + a.height; y++)
        out.insert(out.end(), p + y * rowstride + a.x * channels, p + y * rowstride + (a.x + a.width) * channels);
    g_object_unref(shot);
    return out;
  }

  // The pixels of a new line, in a window of its own, that never showed
  // anything but `text`.
  std::vector<guchar> drawn_once(const std::string &text, GtkAllocation *allocation) {
    GtkWidget *own = NULL;
    GtkWidget *line = make_window(&own);
    text_line_set(line, text.c_str());
    drawn();
    *allocation = line->allocation;
    std::vector<guchar> out = pixels(line);
    gtk_widget_destroy(own);
    return out;
  }

  // The x at which `text`'s byte `index` begins in `line`'s font.
  int x_of(GtkWidget *line, const char *text, int index) {
    PangoLayout *layout = gtk_widget_create_pango_layout(line, text);
    PangoRectangle pos;
    pango_layout_index_to_pos(layout, index, &pos);
    g_object_unref(layout);
    return PANGO_PIXELS(pos.x);
  }

  GtkWidget *window = nullptr, *changed = nullptr;
};

TEST_F(TextLineTest, ShowsItsTextAndTheSameTextAgainDrawsNothing) {
  text_line_set(changed, "Real mode, paging off    t=23");
  EXPECT_EQ(text_line_get(changed), "Real mode, paging off    t=23");
  EXPECT_GT(text_line_last_redrawn(changed).width, 0);
  text_line_set(changed, "Real mode, paging off    t=23");
  EXPECT_EQ(text_line_last_redrawn(changed).width, 0);
  text_line_set(changed, NULL);
  EXPECT_EQ(text_line_get(changed), "");
}

TEST_F(TextLineTest, ANewTickCountRedrawsFromTheCharacterBeforeTheFirstChangeToTheEnd) {
  const char *before = "Real mode, paging off    t=29", *after = "Real mode, paging off    t=30";
  text_line_set(changed, before);
  drawn();
  text_line_set(changed, after);
  GdkRectangle area = text_line_last_redrawn(changed);
  // "29" and "30" differ from their first digit; the "=" before it is drawn too.
  int equals = x_of(changed, after, 26), end = x_of(changed, after, 29);
  EXPECT_GT(area.x, x_of(changed, after, 20)) << "the unchanged start is not drawn again";
  EXPECT_LE(area.x, equals + 2);
  EXPECT_GE(area.x + area.width, end + 2);
  EXPECT_EQ(area.height, changed->allocation.height);
}

TEST_F(TextLineTest, TextsThatMayMoveWhatCameBeforeAreRedrawnWhole) {
  struct Case {
    const char *what, *before, *after;
  } cases[] = {
      {"a letter outside ASCII", "Protected mode    t=9", "Protected mode    t=9 \xc3\xa9"},
      {"from text outside ASCII", "caf\xc3\xa9 t=1", "caf\xc3\xa9 t=2"},
      {"Hebrew, drawn right to left", "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 1", "\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d 2"},
  };
  for (const Case &c : cases) {
    text_line_set(changed, c.before);
    drawn();
    text_line_set(changed, c.after);
    GdkRectangle area = text_line_last_redrawn(changed);
    EXPECT_EQ(area.x, 0) << c.what;
    EXPECT_EQ(area.width, changed->allocation.width) << c.what;
  }
}

// A line changed through a run of texts, longer and shorter, shows the same
// pixels as a line that was given only the last text: nothing of an earlier
// text is left behind, and nothing of the new one is missing.
TEST_F(TextLineTest, AfterManyChangesTheLineLooksAsOneDrawnOnce) {
  const std::vector<std::string> texts = {
      "Real mode, paging off    t=9",
      "Real mode, paging off    t=10",
      "Protected mode (32-bit), paging on    t=11",
      "Real mode, paging off    t=12",
      "Real mode, paging off",
      "Running",
      "",
      "Virtual-8086 mode, paging on    t=1234567",
      "Virtual-8086 mode, paging on    t=1234568",
      "caf\xc3\xa9 t=1",
      "Real mode, paging off    t=99",
  };
  for (size_t i = 0; i < texts.size(); i++) {
    text_line_set(changed, texts[i].c_str());
    drawn();
    GtkAllocation fresh;
    std::vector<guchar> reference = drawn_once(texts[i], &fresh);
    ASSERT_EQ(changed->allocation.width, fresh.width);
    ASSERT_EQ(changed->allocation.height, fresh.height);
    std::vector<guchar> shown = pixels(changed);
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(shown == reference) << "after \"" << texts[i] << "\"";
  }
}

TEST_F(TextLineTest, TheLineIsAsTallAsItsFontWhateverItShows) {
  int empty = changed->allocation.height;
  EXPECT_GT(empty, 8);
  text_line_set(changed, "Real mode, paging off    t=1");
  drawn();
  EXPECT_EQ(changed->allocation.height, empty);
}
