// A list fed as a stream: rows of a few short texts appended at the bottom
// and removed at the top, as the History page keeps up to 99,999 of them.
//
// A GtkCList reaches its rows through a linked list: every redraw walks from
// the top to the first row shown, and selecting a row or finding one to draw
// again walks to it, so at the bottom of a long list each Step costs time in
// proportion to the rows above. A GtkTreeView in fixed-height mode finds its
// rows in a balanced tree and measures none it does not show; its model here
// keeps each row's texts in one block and finds a row by its place at once.
// The columns stay as wide as their widest cell or their title, as the
// view's own sizing would make them, with every text measured once.
// At its length the list rolls (roll): the picture moves up and only the new
// rows are drawn. On a page not shown it changes without any layout or
// drawing, until it is shown again.
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

typedef struct _VumRowModel VumRowModel;

class RowStream {
 public:
  static const int most_columns = 4;

  RowStream() = default;
  RowStream(const RowStream &) = delete;
  RowStream &operator=(const RowStream &) = delete;
  ~RowStream();

  // Makes the list in a scrolled window packed into `box` (expanding), with
  // a title and a justification per column; returns the GtkTreeView.
  GtkWidget *build(GtkWidget *box, int columns, const char *const titles[], const GtkJustification justify[]);
  GtkWidget *view() const { return view_; }

  void append(const char *const cells[]);
  void remove_first();
  // As many rows removed from the top as `rows` appended at the bottom (the
  // texts of each), as one change: the view moves what it shows up and draws
  // only the rows that came.
  void roll(const std::vector<std::array<const char *, most_columns>> &rows);
  void clear();

  int rows() const;
  // The text of a cell; none outside the list.
  const char *text(int row, int column) const;

  // Selects one row (or none, for -1); the selected row, or -1.
  void select(int row);
  int selected() const;
  // Scrolls so that the last row is shown at the bottom.
  void scroll_to_last();

  // The width a column is given for a cell of this text (the view's own
  // sizing: the text, the renderer's padding, the focus line, the separator).
  int cell_width(int column, const char *text);

 private:
  typedef std::array<uint16_t, most_columns> RowWidths;  // pixels, for each row kept

  int text_width(const char *text);
  int title_width(int column) const;
  void set_width(int column, int width);
  void widen(const RowWidths &widths, uint64_t serial);
  void measure_again();
  static void style_set(GtkWidget *view, GtkStyle *previous, RowStream *stream);
  static void view_gone(GtkWidget *view, RowStream *stream);
  static void holder_realized(GtkWidget *holder, RowStream *stream);
  void rest_while_hidden();
  void push_row(const char *const cells[]);
  void pop_row();

  GtkWidget *view_ = NULL;
  GtkWidget *holder_ = NULL;  // the box around the view's scrolled window
  VumRowModel *model_ = NULL;
  int columns_ = 0;
  GtkTreeViewColumn *column_[most_columns] = {};
  GtkCellRenderer *renderer_[most_columns] = {};
  int width_[most_columns] = {};
  int extra_ = -1;               // what a cell adds to its text's width, -1 unknown
  GHashTable *measured_ = NULL;  // text -> width in pixels + 1

  // For each column the candidates for its widest cell, (row serial,
  // width), widths strictly falling from the front; and each row's widths.
  std::deque<std::pair<uint64_t, int>> widest_[most_columns];
  std::deque<RowWidths> row_widths_;
  uint64_t first_serial_ = 0, next_serial_ = 0;
};
