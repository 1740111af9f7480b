#include "ui/exchange_log.h"

#include "ui/main_window.h"

namespace ornat {

std::string RequestLine(const std::uint8_t* frame) {
  std::string line = "TX : ";
  for (int i = 0; i < 8; ++i) line += ByteToHex(frame[i]) + " ";
  return line;
}

void AddAnswerLines(TTeMemo& log, const std::uint8_t* bytes, std::uint16_t n) {
  if (n == 0) return;
  // ceil(n / 17) lines; the last holds the rest (17 when n is a multiple of 17).
  unsigned q = n / 17;
  if (q * 17 == n && q > 0) --q;
  for (unsigned k = 0; k <= q; ++k) {
    std::string line = k == 0 ? "RX : " : "     ";
    unsigned end = k < q ? 17 * k + 17 : n;
    for (unsigned i = 17 * k; i < end; ++i) line += ByteToHex(bytes[i]) + " ";
    log.Add(std::move(line));
  }
}

void InitStatusGrid(TTeStringGrid& grid) {
  grid.SetCell(0, 0, "  ТИП");
  grid.SetCell(0, 1, "  СТАТУС");
  grid.SetColWidth(0, 150);
  grid.SetColWidth(1, grid.Width() - grid.ColWidth(0) - 6);
}

void EmptyStatusValues(TTeStringGrid& grid) {
  grid.SetCell(1, 0, "");
  grid.SetCell(1, 1, "");
}

void DrawStatusCell(const TTeStringGrid& grid, int col, int row, const TRect& rect,
                    TGridDrawState state, TCanvas& canvas) {
  TColor fill = grid.Color();
  if (HasState(state, TGridDrawStateFlag::gdSelected))
    fill = kGridSelectedColor;
  else if (HasState(state, TGridDrawStateFlag::gdFixed))
    fill = grid.FixedColor();
  canvas.FillRect(rect, fill);
  canvas.SetTransparentText();
  TRect text_rect = rect;
  text_rect.Right -= 2;
  canvas.DrawTextLine(grid.Cell(col, row), text_rect);
}

void TForm1::LogRequest(const std::uint8_t* frame) {
  std::string line = RequestLine(frame);
  TeMemo1.SetFontColor(kLogRequestColor);
  TeMemo1.Clear();
  TeMemo1.Add(std::move(line));
  TeMemo1.Add("RX :");
}

void TForm1::LogResponse() {
  // Normally the "RX :" placeholder that LogRequest left.
  if (TeMemo1.Count() > 0) TeMemo1.Delete(TeMemo1.Count() - 1);
  AddAnswerLines(TeMemo1, State.FrameBuffer.data(), State.ReceivedCount);
  DispatchResponse();
}

void TForm1::StatusGridDrawCell(TObject*, int ACol, int ARow, const TRect& Rect,
                                TGridDrawState DrawState, TCanvas& Canvas) {
  DrawStatusCell(StatusGrid, ACol, ARow, Rect, DrawState, Canvas);
}

}  // namespace ornat
