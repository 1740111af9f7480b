#pragma once
// The status grid's painting surface over a QPainter.

#include <QColor>
#include <QFont>
#include <QPainter>

#include "ui/toolkit/controls.h"

namespace ornat {

// 0x00BBGGRR as the window stores colours.
inline QColor ToQColor(TColor c) {
  return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                static_cast<int>((c >> 16) & 0xFF));
}

class QPainterCanvas : public TCanvas {
 public:
  // Text is drawn in font and text_color.
  QPainterCanvas(QPainter& painter, const QFont& font, const QColor& text_color);
  void FillRect(const TRect& r, TColor color) override;
  void SetTransparentText() override;
  void DrawTextLine(const std::string& text, const TRect& r) override;

 private:
  QPainter& painter_;
  QFont font_;
  QColor text_color_;
};

// TRect's Right and Bottom lie just outside the rectangle.
inline QRect ToQRect(const TRect& r) {
  return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

}  // namespace ornat
