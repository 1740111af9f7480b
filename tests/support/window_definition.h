#pragma once
// The window definition as the tests of both windows check it (the Qt window's
// tests/gui/window_definition_test.cpp, the Win32 window's tests/win32gui/): every
// control by its name with its place in its parent, its text, visibility and enabled
// state after start-up, and the menu tree with its captions and check marks. The
// parent "Form1_Client" is the window's client area.

namespace ornat::testing {

struct Placed {
  const char* name;
  const char* parent;  // objectName of the parent widget
  int left, top, width, height;
  const char* text;  // nullptr: the widget shows no text of its own
  bool visible = true;
  bool enabled = true;
};

// Positions inside the group boxes are relative to them.
inline constexpr Placed kWindow[] = {
    {"TeMenuBar1", "Form1_Client", 3, 0, 115, 22, nullptr},
    {"TeGroupBox1", "Form1_Client", 0, 24, 433, 489, ""},
    {"StatusBar1", "Form1_Client", 0, 513, 434, 21, nullptr},
    {"TeGroupBox2", "TeGroupBox1", 12, 8, 410, 121, "  ПАРАМЕТРЫ ИНТЕРФЕЙСА  "},
    {"TeGroupBox6", "TeGroupBox1", 12, 132, 410, 112, "  КОНФИГУРАЦИЯ ИЗВЕЩАТЕЛЯ  "},
    {"TeGroupBox4", "TeGroupBox1", 12, 248, 410, 81, "  СТАТУС  "},
    {"StatusGrid", "TeGroupBox1", 15, 334, 404, 42, nullptr},
    {"TeMemo1", "TeGroupBox1", 15, 382, 404, 97, "TX :\nRX :"},
    {"TeProgressBar1", "TeGroupBox1", 41, 448, 352, 16, nullptr, false},
    {"TeLabel4", "TeGroupBox2", 26, 20, 112, 13, "СКОРОСТЬ ПЕРЕДАЧИ"},
    {"TeLabel5", "TeGroupBox2", 213, 20, 112, 13, "АДРЕС ПРИБОРА - 247"},
    {"TeSComboBox1", "TeGroupBox2", 26, 40, 105, 22, "9600"},
    {"TeSpinEdit1", "TeGroupBox2", 152, 40, 65, 21, "247"},
    {"TeButton1", "TeGroupBox2", 236, 38, 65, 25, "-->"},
    {"TeLabel6", "TeGroupBox2", 256, 44, 10, 13, "to"},
    {"TeSpinEdit2", "TeGroupBox2", 320, 40, 65, 21, "247"},
    // "A" and "V" Latin.
    {"TeButton2", "TeGroupBox2", 26, 72, 359, 30, "СБРОС ИНТЕРФЕЙСА --> A=247; V=9600 бит/с"},
    {"TeLabel1", "TeGroupBox6", 24, 18, 47, 13, "ТАКТИКА"},
    {"IRMAX_Button", "TeGroupBox6", 28, 36, 15, 16, "   ШС1"},
    {"IRMIN_Button", "TeGroupBox6", 28, 52, 15, 16, "   ШС1"},
    {"T1MAX_Button", "TeGroupBox6", 140, 36, 15, 16, "   ШС1"},
    {"T2MAX_Button", "TeGroupBox6", 140, 52, 15, 16, "   ШС1"},
    {"T2MIN_Button", "TeGroupBox6", 140, 68, 15, 16, "   ШС1"},
    {"T3_100MAX_Button", "TeGroupBox6", 232, 36, 15, 16, "   ШС1"},
    {"T3_100MIN_Button", "TeGroupBox6", 232, 52, 15, 16, "   ШС1"},
    {"T3_500MAX_Button", "TeGroupBox6", 232, 68, 15, 16, "   ШС1"},
    {"T3_500MIN_Button", "TeGroupBox6", 232, 84, 15, 16, "   ШС1"},
    // "MAX" and "MIN" Latin.
    {"TeLabel9", "TeGroupBox6", 48, 37, 81, 13, "- УФ+ИК - MAX*"},
    {"TeLabel2", "TeGroupBox6", 48, 53, 73, 13, "- УФ+ИК - MIN"},
    {"TeLabel8", "TeGroupBox6", 160, 37, 63, 13, "- УФ-1 - MAX"},
    {"TeLabel11", "TeGroupBox6", 160, 53, 69, 13, "- УФ-2 - MAX*"},
    {"TeLabel12", "TeGroupBox6", 160, 69, 61, 13, "- УФ-2 - MIN"},
    {"TeLabel10", "TeGroupBox6", 252, 37, 151, 13, "- УФ-3 -> ВСПЫШКА 0,1с/MAX"},
    {"TeLabel13", "TeGroupBox6", 252, 53, 149, 13, "- УФ-3 -> ВСПЫШКА 0,1с/MIN"},
    {"TeLabel14", "TeGroupBox6", 252, 69, 151, 13, "- УФ-3 -> ВСПЫШКА 0,5с/MAX"},
    {"TeLabel15", "TeGroupBox6", 252, 85, 149, 13, "- УФ-3 -> ВСПЫШКА 0,5с/MIN"},
    {"TST_Button", "TeGroupBox6", 28, 72, 105, 20, " - ТЕСТ (УФ+ИК)"},
    {"FIX_Button", "TeGroupBox6", 28, 89, 117, 20, " - ФИКС. ТРЕВОГИ", true, false},
    {"TeCheckBox1", "TeGroupBox4", 26, 16, 74, 20, "В ЦИКЛЕ"},
    {"TeButton5", "TeGroupBox4", 26, 38, 207, 30, "&ЗАПРОС ПАРАМЕТРОВ"},
    {"TeButton3", "TeGroupBox4", 280, 38, 105, 30, "СБРОС ТРЕВОГИ"},
    {"Button1", "TeGroupBox4", 184, 8, 41, 25, "F0", false},
    {"Button2", "TeGroupBox4", 232, 8, 41, 25, "F2", false},
    {"Button3", "TeGroupBox4", 280, 8, 41, 25, "F3", false},
};

struct MenuEntry {
  const char* name;
  const char* container;  // objectName of the menu holding it; "TeMenuBar1" for the bar
  const char* caption;
  bool checked;
};

inline constexpr MenuEntry kMenu[] = {
    {"CustomItem1", "TeMenuBar1", "Connection", false},
    {"CustomItem4", "TeMenuBar1", "Search", false},
    {"PORT1", "CustomItem1", "Port", false},
    {"CustomItem3", "CustomItem1", "BaudRate", false},
    {"BR_1200", "CustomItem3", "1200", false},
    {"BR_2400", "CustomItem3", "2400", false},
    {"BR_4800", "CustomItem3", "4800", false},
    {"BR_9600", "CustomItem3", "9600", true},
    {"BR_14400", "CustomItem3", "14400", false},
    {"BR_19200", "CustomItem3", "19200", false},
    {"BR_38400", "CustomItem3", "38400", false},
    {"BR_57600", "CustomItem3", "57600", false},
    {"CustomItem5", "CustomItem4", "Start", false},
    {"CustomItem6", "CustomItem4", "Delay", false},
    {"CustomItem7", "CustomItem6", "100ms", false},
    {"CustomItem8", "CustomItem6", "150ms", true},
    {"CustomItem9", "CustomItem6", "200ms", false},
    {"CustomItem10", "CustomItem6", "250ms", false},
    {"CustomItem11", "CustomItem6", "300ms", false},
    {"CustomItem12", "CustomItem6", "350ms", false},
};

// What screen readers call the tactic buttons: the label beside each ("MAX" and "MIN"
// Latin).
struct AccessibleName {
  const char* control;
  const char* name;
};

inline constexpr AccessibleName kTacticNames[] = {
    {"IRMAX_Button", "- УФ+ИК - MAX*"},
    {"IRMIN_Button", "- УФ+ИК - MIN"},
    {"T1MAX_Button", "- УФ-1 - MAX"},
    {"T2MAX_Button", "- УФ-2 - MAX*"},
    {"T2MIN_Button", "- УФ-2 - MIN"},
    {"T3_100MAX_Button", "- УФ-3 -> ВСПЫШКА 0,1с/MAX"},
    {"T3_100MIN_Button", "- УФ-3 -> ВСПЫШКА 0,1с/MIN"},
    {"T3_500MAX_Button", "- УФ-3 -> ВСПЫШКА 0,5с/MAX"},
    {"T3_500MIN_Button", "- УФ-3 -> ВСПЫШКА 0,5с/MIN"},
};

}  // namespace ornat::testing
