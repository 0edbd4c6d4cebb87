// The list sizer: fills a GtkCList whose columns are as wide as their widest
// cell (as an auto-resized column is) without the toolkit laying out every
// cell text with Pango as it is appended or removed, which costs a long list
// many times its exchanges with the debugger. Texts are measured once and
// the widths kept; rows already in the list are reused where the new ones
// take their place.
//
// Two ways of filling:
//   - all at once (begin, add..., finish): the list ends holding exactly the
//     rows added, as if cleared and filled; rows already there get only the
//     texts that differ written into them;
//   - as a stream (append at the bottom, remove_first at the top, clear), as
//     the History page's rows come and go; the widest cell of each column is
//     kept as rows leave.
// And rewriting in place, a row (update_row) or every row (update_rows,
// which moves the picture of values that moved up or down by whole rows).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

class ListSizer {
 public:
  enum class Measure {
    exact,         // each distinct text laid out once: the toolkit's own widths
    by_character,  // each character once per font, summed: never narrower, and far
                   // cheaper for many distinct texts (values read from memory)
  };

  static const int most_columns = 8;

  ListSizer() = default;
  ListSizer(const ListSizer &) = delete;
  ListSizer &operator=(const ListSizer &) = delete;
  ~ListSizer();

  // Sizes this list from now on; a change of its style (font) is measured
  // again. The list's columns stay auto-resized for everything else.
  void attach(GtkWidget *list, Measure how);
  void detach();
  GtkWidget *list() const { return list_; }

  // All at once. `rows_coming` is how many rows add() will give. A row may
  // be drawn in a foreground colour of its own (none: the list's).
  void begin(uint64_t rows_coming);
  void add(const char *const cells[], const GdkColor *foreground = NULL);
  // While rows are still coming (the list drawn between parts of a long
  // read): widens the columns to the rows added so far.
  void show_widths();
  void finish();

  // As a stream.
  void append(const char *const cells[]);
  void remove_first();
  void clear();

  // Writes the texts of one row that differ from what it shows, and its
  // colour; only a row that changed is drawn again. True when it changed.
  bool update_row(int row, const char *const cells[], const GdkColor *foreground = NULL);

  // One row's texts and colour, for update_rows.
  struct Row {
    std::array<const char *, most_columns> cells;
    const GdkColor *foreground;  // none: the list's
  };
  // Writes every row of a list that holds as many, as update_row does for
  // each. The texts of the columns from `moving_from` on may have moved up
  // or down by whole rows, as a stack's values do when its top moves while
  // the column of offsets from the top stays: then the picture of those
  // columns is moved with them, and only the rows that still differ are
  // drawn again. False, and nothing written, when the list holds another
  // number of rows.
  bool update_rows(const std::vector<Row> &rows, int moving_from);

  // The width in pixels the list gives a cell of the text.
  int text_width(const char *text);

 private:
  typedef std::array<int, most_columns> RowWidths;

  int measure(const char *text);  // Pango units
  int title_width(int column) const;
  bool set_cells(GtkCListRow *row, const char *const cells[]);
  bool set_colour(GtkCListRow *row, const GdkColor *foreground);
  int best_shift(const std::vector<GtkCListRow *> &old, const std::vector<Row> &rows, int moving_from) const;
  bool picture_can_move() const;
  void widen(const RowWidths &widths, uint64_t serial);
  void forget_widths();
  void measure_again();
  static void style_set(GtkWidget *list, GtkStyle *previous, ListSizer *sizer);

  GtkWidget *list_ = NULL;
  GtkCList *clist_ = NULL;
  gulong style_handler_ = 0, destroy_handler_ = 0;
  int columns_ = 0;
  Measure how_ = Measure::exact;
  PangoFontDescription *font_ = NULL;
  const GtkStyle *font_style_ = NULL;  // the style font_ was last found equal in
  GHashTable *measured_ = NULL;  // exact: text -> width in pixels + 1
  int advance_[128];             // by character: Pango units, -1 unmeasured

  // All at once.
  GList *next_ = NULL;  // the next row to reuse
  RowWidths widest_now_{};

  // As a stream: the widths of every row, top to bottom, and for each column
  // the candidates for its widest cell, (row serial, width), widths strictly
  // falling from the front.
  std::deque<RowWidths> row_widths_;
  std::deque<std::pair<uint64_t, int>> widest_[most_columns];
  uint64_t first_serial_ = 0, next_serial_ = 0;
};
