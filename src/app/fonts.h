#pragma once
// The window's four fonts, each mapped to an installed face that has Cyrillic glyphs.
// Sizes are character heights in pixels, as the window definition gives them.
//  - "Courier" 11 (the window and every control without a font of its own): DejaVu
//    Sans Condensed. The labels' widths in the definition come from a proportional
//    face of about this width; a monospaced face at 11 px overruns them by 15-25 %
//    ("- УФ-3 -> ВСПЫШКА 0,1с/MAX" would need 172 of its 151 pixels).
//  - "Courier New" 11 (the log): Liberation Mono, which has Courier New's metrics, so
//    the hex columns line up.
//  - "MS Sans Serif" 15 (the speed list) and 11 (the address editors): DejaVu Sans.

#include <QFont>

namespace ornat {

QFont WindowFont();
QFont LogFont();
QFont ComboFont();
QFont EditorFont();

}  // namespace ornat
