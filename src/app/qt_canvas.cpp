#include "app/qt_canvas.h"

namespace ornat {

QPainterCanvas::QPainterCanvas(QPainter& painter, const QFont& font, const QColor& text_color)
    : painter_(painter), font_(font), text_color_(text_color) {}

void QPainterCanvas::FillRect(const TRect& r, TColor color) {
  painter_.fillRect(ToQRect(r), ToQColor(color));
}

void QPainterCanvas::SetTransparentText() {
  painter_.setBackgroundMode(Qt::TransparentMode);
}

void QPainterCanvas::DrawTextLine(const std::string& text, const TRect& r) {
  QRect rect = ToQRect(r);
  if (rect.isEmpty()) return;
  painter_.save();
  painter_.setClipRect(rect, Qt::IntersectClip);
  painter_.setFont(font_);
  painter_.setPen(text_color_);
  painter_.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    QString::fromStdString(text));
  painter_.restore();
}

}  // namespace ornat
