#pragma once
// The window's look: flat and light, after the "Office XP" theme the window is
// defined with (light grey face, white fields with thin blue-grey frames, pale blue
// highlight with a darker blue edge on hover and on the chosen menu item).

class QApplication;

namespace ornat {

// Sets the style, the palette and the style sheet of the whole application.
void ApplyTheme(QApplication& app);

}  // namespace ornat
