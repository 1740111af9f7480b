#include "app/fonts.h"

#include <QStringList>

namespace ornat {

namespace {
QFont Make(const QStringList& families, int pixel_size, QFont::StyleHint hint) {
  QFont f(families.front());
  f.setFamilies(families);
  f.setStyleHint(hint);
  f.setPixelSize(pixel_size);
  return f;
}
}  // namespace

QFont WindowFont() {
  return Make({"DejaVu Sans Condensed", "Liberation Sans", "DejaVu Sans"}, 11, QFont::SansSerif);
}

QFont LogFont() {
  return Make({"Liberation Mono", "DejaVu Sans Mono"}, 11, QFont::Monospace);
}

QFont ComboFont() {
  return Make({"DejaVu Sans", "Liberation Sans"}, 15, QFont::SansSerif);
}

QFont EditorFont() {
  return Make({"DejaVu Sans", "Liberation Sans"}, 11, QFont::SansSerif);
}

}  // namespace ornat
