// The string grid's layout and input as both windows use them: at 96 dpi (the Qt
// window) and at 144 dpi (the Win32 window on a scaled screen), lengths rounded as
// Windows' MulDiv rounds, so that the cells, the lines and the sizing reach agree to
// the pixel with what the window draws.

#include "ui/toolkit/string_grid_view.h"

#include <gtest/gtest.h>

#include <vector>

#include "ui/toolkit/dialogs.h"

namespace ornat {
namespace {

// Two columns of 150 and 100, two rows of 20, in the definition's pixels.
void TwoByTwo(TTeStringGrid& grid) {
  grid.SetColWidth(0, 150);
  grid.SetColWidth(1, 100);
  grid.SetDefaultRowHeight(20);
}

TEST(StringGridLayout, CellsLinesAndReachAreScaledToTheScreenAsMulDivRounds) {
  struct Case {
    int dpi;
    TRect last_cell;
    int line_width;
    int row_line_y;     // the line below row 0: still row 0
    int column_line_x;  // the line right of column 0: where sizing it begins
    int reach;
  };
  const Case cases[] = {
      {96, TRect{153, 23, 253, 43}, 1, 22, 152, 2},
      {144, TRect{230, 35, 379, 64}, 2, 34, 228, 3},
  };
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  TwoByTwo(grid);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dpi);
    const StringGridLayout layout(grid, c.dpi);
    const TRect cell = layout.CellRect(1, 1);
    EXPECT_EQ((std::vector<int>{cell.Left, cell.Top, cell.Right, cell.Bottom}),
              (std::vector<int>{c.last_cell.Left, c.last_cell.Top, c.last_cell.Right,
                                c.last_cell.Bottom}));
    EXPECT_EQ(layout.LineWidth(), c.line_width);
    EXPECT_EQ(layout.RowAt(c.row_line_y), 0);
    EXPECT_EQ(layout.RowAt(c.row_line_y + c.line_width), 1);
    EXPECT_EQ(layout.RowAt(0), -1) << "the frame is no row";
    EXPECT_EQ(layout.RowAt(c.last_cell.Bottom + c.line_width), -1) << "below the last line";
    EXPECT_EQ(layout.SizingColumnAt(c.column_line_x - c.reach), 0);
    EXPECT_EQ(layout.SizingColumnAt(c.column_line_x + c.reach), 0);
    EXPECT_EQ(layout.SizingColumnAt(c.column_line_x + c.reach + 1), -1);
    EXPECT_EQ(layout.SizingRowAt(c.row_line_y), 0);
  }
}

TEST(StringGridInput, ADragSizesInTheDefinitionsPixelsAndAPressOrAKeySelectsARow) {
  ScriptedDialogs dialogs;
  HandlerGate gate(dialogs);
  TTeStringGrid grid("StatusGrid", nullptr, 2, 2);
  TwoByTwo(grid);
  const StringGridLayout layout(grid, 144);
  StringGridInput input(grid, gate);

  EXPECT_TRUE(input.Press(layout, 228, 10)) << "on the line right of column 0";
  EXPECT_EQ(input.PointerAt(layout, 0, 0), GridPointer::kSizeColumn) << "held while sizing";
  EXPECT_TRUE(input.Move(layout, 258, 10));
  EXPECT_EQ(grid.ColWidth(0), 170) << "30 pixels at 144 dpi are 20 of the definition";
  EXPECT_TRUE(input.Move(layout, -1000, 10));
  EXPECT_EQ(grid.ColWidth(0), 1) << "never narrower than a pixel";
  input.Release();
  EXPECT_FALSE(input.Move(layout, 300, 10));
  EXPECT_EQ(grid.ColWidth(0), 1);
  EXPECT_EQ(input.PointerAt(layout, 100, 100), GridPointer::kArrow);

  EXPECT_FALSE(input.Press(layout, 100, 40));
  EXPECT_EQ(grid.Row(), 1);
  input.Step(-1);
  EXPECT_EQ(grid.Row(), 0);
  input.Step(-1);
  EXPECT_EQ(grid.Row(), 0) << "no row above the first";
  EXPECT_TRUE(dialogs.exceptions.empty());
}

}  // namespace
}  // namespace ornat
