// The main window: its controls as the window definition places them, the binding
// of every event to its handler, start-up, the PC-side baud-rate menu and the
// address editor.

#include "ui/main_window.h"

#include <algorithm>

#include "runtime/realtime_loop.h"
#include "serial/comport.h"
#include "ui/exchange_log.h"

namespace ornat {

FormEnvironment FormEnvironment::Of(Scheduler& scheduler, HandlerGate& gate, Dispatcher& dispatcher,
                                    Dialogs& dialogs, CommDevice& device, PortListSource* ports) {
  FormEnvironment env;
  env.scheduler = &scheduler;
  env.gate = &gate;
  env.dispatcher = &dispatcher;
  env.dialogs = &dialogs;
  env.device = &device;
  env.ports = ports;
  return env;
}

FormEnvironment FormEnvironment::Realtime(RealtimeLoop& loop, HandlerGate& gate, Dialogs& dialogs,
                                          CommDevice& device) {
  return Of(loop, gate, loop.dispatcher(), dialogs, device);
}

const std::array<BaudRow, 8> kBaudTable = {{
    {"1200", "BaudRate = 1200", "; Baud = 1200", TBaudRate::br1200},
    {"2400", "BaudRate = 2400", "; Baud = 2400", TBaudRate::br2400},
    {"4800", "BaudRate = 4800", "; Baud = 4800", TBaudRate::br4800},
    {"9600", "BaudRate = 9600", "; Baud = 9600", TBaudRate::br9600},
    {"14400", "BaudRate = 14400", "; Baud = 14400", TBaudRate::br14400},
    {"19200", "BaudRate = 19200", "; Baud = 19200", TBaudRate::br19200},
    {"38400", "BaudRate = 38400", "; Baud = 38400", TBaudRate::br38400},
    // Row 7 is 57600 bit/s; the port's list has 56000 in between, which is never used.
    {"57600", "BaudRate = 57600", "; Baud = 57600", TBaudRate::br57600},
}};

namespace {
// Window caption: two leading spaces, three around the middle part.
constexpr const char* kCaption = "  ОРНАТ(-2)-Zev   (MODBUS-RTU)   V1.03 - 2019";
}  // namespace

std::string PadNumber(unsigned value, unsigned width) {
  std::string digits = std::to_string(value);
  if (digits.size() >= width) return digits;
  return std::string(width - digits.size(), '0') + digits;
}

TForm1::TForm1(const FormEnvironment& env)
    : TComponent("Form1"),
      TeMenuBar1("TeMenuBar1"),
      CustomItem1("CustomItem1", "Connection"),
      PORT1("PORT1", "Port"),
      CustomItem3("CustomItem3", "BaudRate"),
      BR_1200("BR_1200", "1200"),
      BR_2400("BR_2400", "2400"),
      BR_4800("BR_4800", "4800"),
      BR_9600("BR_9600", "9600"),
      BR_14400("BR_14400", "14400"),
      BR_19200("BR_19200", "19200"),
      BR_38400("BR_38400", "38400"),
      BR_57600("BR_57600", "57600"),
      CustomItem4("CustomItem4", "Search"),
      CustomItem5("CustomItem5", "Start"),
      CustomItem6("CustomItem6", "Delay"),
      CustomItem7("CustomItem7", "100ms"),
      CustomItem8("CustomItem8", "150ms"),
      CustomItem9("CustomItem9", "200ms"),
      CustomItem10("CustomItem10", "250ms"),
      CustomItem11("CustomItem11", "300ms"),
      CustomItem12("CustomItem12", "350ms"),
      TeGroupBox1("TeGroupBox1"),
      StatusBar1("StatusBar1"),
      TeGroupBox2("TeGroupBox2", &TeGroupBox1),
      TeLabel4("TeLabel4", &TeGroupBox2),
      TeLabel5("TeLabel5", &TeGroupBox2),
      TeLabel6("TeLabel6", &TeGroupBox2),
      TeSComboBox1("TeSComboBox1", &TeGroupBox2),
      TeSpinEdit1("TeSpinEdit1", &TeGroupBox2),
      TeSpinEdit2("TeSpinEdit2", &TeGroupBox2),
      TeButton1("TeButton1", &TeGroupBox2),
      TeButton2("TeButton2", &TeGroupBox2),
      TeGroupBox6("TeGroupBox6", &TeGroupBox1),
      IRMAX_Button("IRMAX_Button", &TeGroupBox6),
      IRMIN_Button("IRMIN_Button", &TeGroupBox6),
      T1MAX_Button("T1MAX_Button", &TeGroupBox6),
      T2MAX_Button("T2MAX_Button", &TeGroupBox6),
      T2MIN_Button("T2MIN_Button", &TeGroupBox6),
      T3_100MAX_Button("T3_100MAX_Button", &TeGroupBox6),
      T3_100MIN_Button("T3_100MIN_Button", &TeGroupBox6),
      T3_500MAX_Button("T3_500MAX_Button", &TeGroupBox6),
      T3_500MIN_Button("T3_500MIN_Button", &TeGroupBox6),
      TeLabel9("TeLabel9", &TeGroupBox6),
      TeLabel2("TeLabel2", &TeGroupBox6),
      TeLabel8("TeLabel8", &TeGroupBox6),
      TeLabel11("TeLabel11", &TeGroupBox6),
      TeLabel12("TeLabel12", &TeGroupBox6),
      TeLabel10("TeLabel10", &TeGroupBox6),
      TeLabel13("TeLabel13", &TeGroupBox6),
      TeLabel14("TeLabel14", &TeGroupBox6),
      TeLabel15("TeLabel15", &TeGroupBox6),
      TeLabel1("TeLabel1", &TeGroupBox6),
      TST_Button("TST_Button", &TeGroupBox6),
      FIX_Button("FIX_Button", &TeGroupBox6),
      TeGroupBox4("TeGroupBox4", &TeGroupBox1),
      TeCheckBox1("TeCheckBox1", &TeGroupBox4),
      TeButton5("TeButton5", &TeGroupBox4),
      TeButton3("TeButton3", &TeGroupBox4),
      Button1("Button1", &TeGroupBox4),
      Button2("Button2", &TeGroupBox4),
      Button3("Button3", &TeGroupBox4),
      StatusGrid("StatusGrid", &TeGroupBox1, 2, 2),
      TeMemo1("TeMemo1", &TeGroupBox1),
      TeProgressBar1("TeProgressBar1", &TeGroupBox1),
      Timer_Rx("Timer_Rx", *env.scheduler, *env.gate, 5, false),
      Timer_Programm("Timer_Programm", *env.scheduler, *env.gate, 20, false),
      Timer_Wait("Timer_Wait", *env.scheduler, *env.gate, 20, false),
      env_(env) {
  Caption = kCaption;
  ComPort1_ = std::make_unique<TComPort>("ComPort1", *env.device, *env.dispatcher);
  BuildControls();
  BindEvents();
  env_.gate->SetSettledHook(this, [this] { LetLineGoUnlessNeeded(); });
}

TForm1::~TForm1() {
  env_.gate->SetSettledHook(this, nullptr);
  // Destroying the port closes it; an error there must not escape a destructor.
  try {
    ComPort1_->ClosePort();
  } catch (...) {
  }
}

std::vector<TTeItem*> TForm1::AllMenuItems() {
  std::vector<TTeItem*> items = {&CustomItem1, &PORT1,        &CustomItem3,  &BR_1200,
                                 &BR_2400,     &BR_4800,      &BR_9600,      &BR_14400,
                                 &BR_19200,    &BR_38400,     &BR_57600,     &CustomItem4,
                                 &CustomItem5, &CustomItem6,  &CustomItem7,  &CustomItem8,
                                 &CustomItem9, &CustomItem10, &CustomItem11, &CustomItem12};
  for (auto& p : PortItems) items.push_back(p.get());
  return items;
}

void TForm1::BuildControls() {
  // Menu tree.
  TeMenuBar1.SetBounds(3, 0, 115, 22);
  TeMenuBar1.Items().Add(&CustomItem1);
  TeMenuBar1.Items().Add(&CustomItem4);
  CustomItem1.Add(&PORT1);
  CustomItem1.Add(&CustomItem3);
  for (unsigned i = 0; i < kBaudTable.size(); ++i) CustomItem3.Add(&BaudItem(i));
  CustomItem4.Add(&CustomItem5);
  CustomItem4.Add(&CustomItem6);
  for (TTeItem* d :
       {&CustomItem7, &CustomItem8, &CustomItem9, &CustomItem10, &CustomItem11, &CustomItem12})
    CustomItem6.Add(d);
  CustomItem8.SetChecked(true);

  TeGroupBox1.SetBounds(0, 24, 433, 489);
  StatusBar1.SetBounds(0, 513, 434, 21);
  StatusBar1.AddPanel(50, TAlignment::taCenter, "");
  StatusBar1.AddPanel(100, TAlignment::taCenter, "BaudRate = 9600");
  StatusBar1.AddPanel(1105, TAlignment::taLeftJustify, "DEVICE : A = 247; Baud = 9600");

  TeGroupBox2.SetBounds(12, 8, 410, 121);
  TeGroupBox2.SetCaption("  ПАРАМЕТРЫ ИНТЕРФЕЙСА  ");
  TeGroupBox6.SetBounds(12, 132, 410, 112);
  TeGroupBox6.SetCaption("  КОНФИГУРАЦИЯ ИЗВЕЩАТЕЛЯ  ");
  TeGroupBox4.SetBounds(12, 248, 410, 81);
  TeGroupBox4.SetCaption("  СТАТУС  ");
  StatusGrid.SetBounds(15, 334, 404, 42);
  StatusGrid.SetDefaultRowHeight(18);
  TeMemo1.SetBounds(15, 382, 404, 97);
  TeMemo1.Add("TX :");
  TeMemo1.Add("RX :");
  TeProgressBar1.SetBounds(41, 448, 352, 16);
  TeProgressBar1.SetRange(1, 247);
  TeProgressBar1.SetPosition(0);
  TeProgressBar1.SetVisible(false);

  // "  ПАРАМЕТРЫ ИНТЕРФЕЙСА  "
  TeLabel4.SetBounds(26, 20, 112, 13);
  TeLabel4.SetCaption("СКОРОСТЬ ПЕРЕДАЧИ");
  TeLabel5.SetBounds(213, 20, 112, 13);
  TeLabel5.SetCaption("АДРЕС ПРИБОРА - 247");
  TeSComboBox1.SetBounds(26, 40, 105, 22);
  TeSComboBox1.SetItems({"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600"});
  TeSComboBox1.SetItemIndex(3);
  for (TTeSpinEdit* e : {&TeSpinEdit1, &TeSpinEdit2}) {
    e->SetRange(1, 247);
    e->SetMaxLength(3);
    e->SetValue(247);
  }
  TeSpinEdit1.SetBounds(152, 40, 65, 21);
  TeSpinEdit2.SetBounds(320, 40, 65, 21);
  TeButton1.SetBounds(236, 38, 65, 25);
  TeButton1.SetCaption("-->");
  // "to" lies under the "-->" button and is never seen.
  TeLabel6.SetBounds(256, 44, 10, 13);
  TeLabel6.SetCaption("to");
  TeButton2.SetBounds(26, 72, 359, 30);
  TeButton2.SetCaption("СБРОС ИНТЕРФЕЙСА --> A=247; V=9600 бит/с");  // "A", "V" Latin

  // "  КОНФИГУРАЦИЯ ИЗВЕЩАТЕЛЯ  ": nine tactic buttons, each named by the label beside it.
  struct Tactic {
    TTeRadioButton* button;
    int left, top;
    TTeLabel* label;
    const char* text;
    int label_left, label_top, label_width;
  };
  // "MAX"/"MIN" Latin; "УФ", "ИК", "ВСПЫШКА" and the "с" of "0,1с" Cyrillic.
  const Tactic tactics[] = {
      {&IRMAX_Button, 28, 36, &TeLabel9, "- УФ+ИК - MAX*", 48, 37, 81},
      {&IRMIN_Button, 28, 52, &TeLabel2, "- УФ+ИК - MIN", 48, 53, 73},
      {&T1MAX_Button, 140, 36, &TeLabel8, "- УФ-1 - MAX", 160, 37, 63},
      {&T2MAX_Button, 140, 52, &TeLabel11, "- УФ-2 - MAX*", 160, 53, 69},
      {&T2MIN_Button, 140, 68, &TeLabel12, "- УФ-2 - MIN", 160, 69, 61},
      {&T3_100MAX_Button, 232, 36, &TeLabel10, "- УФ-3 -> ВСПЫШКА 0,1с/MAX", 252, 37, 151},
      {&T3_100MIN_Button, 232, 52, &TeLabel13, "- УФ-3 -> ВСПЫШКА 0,1с/MIN", 252, 53, 149},
      {&T3_500MAX_Button, 232, 68, &TeLabel14, "- УФ-3 -> ВСПЫШКА 0,5с/MAX", 252, 69, 151},
      {&T3_500MIN_Button, 232, 84, &TeLabel15, "- УФ-3 -> ВСПЫШКА 0,5с/MIN", 252, 85, 149},
  };
  for (const Tactic& t : tactics) {
    t.button->SetBounds(t.left, t.top, 15, 16);
    t.button->SetCaption("   ШС1");
    t.button->SetGroup(&TacticGroup);
    t.label->SetBounds(t.label_left, t.label_top, t.label_width, 13);
    t.label->SetCaption(t.text);
  }
  TeLabel1.SetBounds(24, 18, 47, 13);
  TeLabel1.SetCaption("ТАКТИКА");
  TST_Button.SetBounds(28, 72, 105, 20);
  TST_Button.SetCaption(" - ТЕСТ (УФ+ИК)");
  TST_Button.SetHint("Тестирование извещателя в режиме УФ+ИК тестовым фонарем \"ОРНАТ-ТЕСТ\"");
  FIX_Button.SetBounds(28, 89, 117, 20);
  FIX_Button.SetCaption(" - ФИКС. ТРЕВОГИ");
  FIX_Button.SetChecked(true);
  FIX_Button.SetEnabled(false);

  // "  СТАТУС  "
  TeCheckBox1.SetBounds(26, 16, 74, 20);
  TeCheckBox1.SetCaption("В ЦИКЛЕ");
  TeButton5.SetBounds(26, 38, 207, 30);
  TeButton5.SetCaption("&ЗАПРОС ПАРАМЕТРОВ");
  TeButton3.SetBounds(280, 38, 105, 30);
  TeButton3.SetCaption("СБРОС ТРЕВОГИ");
  Button1.SetBounds(184, 8, 41, 25);
  Button1.SetCaption("F0");
  Button2.SetBounds(232, 8, 41, 25);
  Button2.SetCaption("F2");
  Button3.SetBounds(280, 8, 41, 25);
  Button3.SetCaption("F3");
  for (TButton* b : {&Button1, &Button2, &Button3}) b->SetVisible(false);

  controls_ = {
      &TeMenuBar1,       &TeGroupBox1,      &StatusBar1,   &TeGroupBox2,      &TeLabel4,
      &TeLabel5,         &TeSComboBox1,     &TeSpinEdit1,  &TeButton1,        &TeLabel6,
      &TeSpinEdit2,      &TeButton2,        &TeGroupBox6,  &TeLabel1,         &IRMAX_Button,
      &TeLabel9,         &IRMIN_Button,     &TeLabel2,     &T1MAX_Button,     &TeLabel8,
      &T2MAX_Button,     &TeLabel11,        &T2MIN_Button, &TeLabel12,        &T3_100MAX_Button,
      &TeLabel10,        &T3_100MIN_Button, &TeLabel13,    &T3_500MAX_Button, &TeLabel14,
      &T3_500MIN_Button, &TeLabel15,        &TST_Button,   &FIX_Button,       &TeGroupBox4,
      &TeCheckBox1,      &TeButton5,        &TeButton3,    &Button1,          &Button2,
      &Button3,          &StatusGrid,       &TeMemo1,      &TeProgressBar1};
  for (TControl* c : controls_) c->SetFocusScope(&Focus);
}

void TForm1::BindEvents() {
  auto bind = [this](Action a) { return [this, a](TObject* s) { (this->*a)(s); }; };
  BR_1200.OnClick = bind(&TForm1::BR_1200Click);
  BR_2400.OnClick = bind(&TForm1::BR_2400Click);
  BR_4800.OnClick = bind(&TForm1::BR_4800Click);
  BR_9600.OnClick = bind(&TForm1::BR_9600Click);
  BR_14400.OnClick = bind(&TForm1::BR_14400Click);
  BR_19200.OnClick = bind(&TForm1::BR_19200Click);
  BR_38400.OnClick = bind(&TForm1::BR_38400Click);
  BR_57600.OnClick = bind(&TForm1::BR_57600Click);
  TeSpinEdit1.OnChange = bind(&TForm1::TeSpinEdit1Change);
  TeSpinEdit1.OnKeyPress = [this](TObject* s, char& key) { TeSpinEdit1KeyPress(s, key); };
  TeMenuBar1.OnMouseDown = [this](TObject* s, TMouseButton b, int shift, int x, int y) {
    TeMenuBar1MouseDown(s, b, shift, x, y);
  };
  StatusGrid.OnDrawCell = [this](TObject* s, int c, int r, const TRect& rect, TGridDrawState st,
                                 TCanvas& canvas) {
    StatusGridDrawCell(s, c, r, rect, st, canvas);
  };

  CustomItem5.OnClick = bind(&TForm1::CustomItem5Click);
  CustomItem7.OnClick = bind(&TForm1::CustomItem7Click);
  CustomItem8.OnClick = bind(&TForm1::CustomItem8Click);
  CustomItem9.OnClick = bind(&TForm1::CustomItem9Click);
  CustomItem10.OnClick = bind(&TForm1::CustomItem10Click);
  CustomItem11.OnClick = bind(&TForm1::CustomItem11Click);
  CustomItem12.OnClick = bind(&TForm1::CustomItem12Click);

  TeSComboBox1.OnChange = bind(&TForm1::TeSComboBox1Change);
  TeButton1.OnClick = bind(&TForm1::TeButton1Click);
  TeButton2.OnClick = bind(&TForm1::TeButton2Click);
  T1MAX_Button.OnClick = bind(&TForm1::T1MAX_ButtonClick);
  T2MAX_Button.OnClick = bind(&TForm1::T2MAX_ButtonClick);
  T2MIN_Button.OnClick = bind(&TForm1::T2MIN_ButtonClick);
  T3_100MIN_Button.OnClick = bind(&TForm1::T3_100MIN_ButtonClick);
  T3_100MAX_Button.OnClick = bind(&TForm1::T3_100MAX_ButtonClick);
  T3_500MIN_Button.OnClick = bind(&TForm1::T3_500MIN_ButtonClick);
  T3_500MAX_Button.OnClick = bind(&TForm1::T3_500MAX_ButtonClick);
  IRMAX_Button.OnClick = bind(&TForm1::IRMAX_ButtonClick);
  IRMIN_Button.OnClick = bind(&TForm1::IRMIN_ButtonClick);
  FIX_Button.OnClick = bind(&TForm1::FIX_ButtonClick);
  TST_Button.OnClick = bind(&TForm1::TST_ButtonClick);
  TeCheckBox1.OnClick = bind(&TForm1::TeCheckBox1Click);
  TeButton5.OnClick = bind(&TForm1::TeButton5Click);
  TeButton3.OnClick = bind(&TForm1::TeButton3Click);
  Button1.OnClick = bind(&TForm1::Button1Click);
  Button2.OnClick = bind(&TForm1::Button2Click);
  Button3.OnClick = bind(&TForm1::Button3Click);

  Timer_Rx.SetOnTimer(bind(&TForm1::Timer_RxTimer));
  Timer_Programm.SetOnTimer(bind(&TForm1::Timer_ProgrammTimer));
  // Timer_Wait gets its handler from DeferIfBusy at run time.

  // ComPort1 as the window stores it: read interval 150 ms, handlers on the event
  // thread, every event watched, only OnRxChar assigned.
  TComPort& port = *ComPort1_;
  port.SetBaudRate(TBaudRate::br9600);
  port.Timeouts().SetReadInterval(150);
  port.SetSyncMethod(TSyncMethod::smNone);
  port.SetEvents(TComEvents::All());
  port.OnRxChar = [this](TObject* s, int count) { ComPort1RxChar(s, count); };
}

TTeItem& TForm1::BaudItem(unsigned index) {
  TTeItem* items[] = {&BR_1200,  &BR_2400,  &BR_4800,  &BR_9600,
                      &BR_14400, &BR_19200, &BR_38400, &BR_57600};
  return *items[index];
}

std::uint8_t TForm1::AddressOf(const TTeSpinEdit& editor) {
  // While the user types, the editor may hold 0 or 300 until Enter or focus loss
  // brings it into range. A request never goes to 0 (the broadcast address) nor to a
  // value that would wrap in 8 bits (300 -> 44): the value is taken clamped.
  return static_cast<std::uint8_t>(std::clamp(editor.Value(), 1, 247));
}

void TForm1::FormCreate(TObject*) {
  // Fit to the screen: a screen too low for the window gives it a scroll bar.
  if (env_.screen_height - 25 < OuterHeight) {
    OuterHeight = env_.screen_height - 25;
    AutoScroll = true;
    VertScrollBarVisible = true;
    VertScrollBarTracking = true;
    // The scroll bar takes its width from the client area; widen the window to keep 434.
    OuterWidth += env_.vscroll_width;
  }
  // The shared values start-up sets.
  State.ReceivedCount = 0;
  State.DeviceAddress = 247;
  State.BaudIndex = 3;
  // The address label and both editors (they hold 247 already: no change event).
  TeLabel5.SetCaption(kAddressLabelPrefix + PadNumber(State.DeviceAddress, 3));
  TeSpinEdit1.SetValue(State.DeviceAddress);
  TeSpinEdit2.SetValue(State.DeviceAddress);
  // The status grid's fixed cells and column widths.
  InitStatusGrid(StatusGrid);
  // The PC port's speed and the status bar, from row BaudIndex of the baud-rate table.
  ApplyBaudRow(State.BaudIndex);
  // The Port menu: the ports found, one of them preselected.
  EnumeratePorts();
}

void TForm1::ApplyBaudRow(unsigned index) {
  const BaudRow& row = kBaudTable[index];
  BaudItem(index).SetChecked(true);
  StatusBar1.SetPanelText(1, row.panel1_text);
  StatusBar1.SetPanelText(
      2, kDevicePrefixLatin + PadNumber(State.DeviceAddress, 3) + row.startup_suffix);
  ComPort1_->SetBaudRate(row.port_value);
}

void TForm1::FormActivate(TObject*) {
  TeMenuBar1.SetFocus();
}

const BaudRow& TForm1::CurrentBaudRow() const {
  return kBaudTable[State.BaudIndex < kBaudTable.size() ? State.BaudIndex : 3];
}

void TForm1::UncheckBaudItems() {
  for (unsigned i = 0; i < kBaudTable.size(); ++i) BaudItem(i).SetChecked(false);
}

void TForm1::BaudMenuClick(unsigned index) {
  const BaudRow& row = kBaudTable[index];
  UncheckBaudItems();
  BaudItem(index).SetChecked(true);
  StatusBar1.SetPanelText(1, row.panel1_text);
  ComPort1_->SetBaudRate(row.port_value);
  State.BaudIndex = static_cast<std::uint8_t>(index);
  std::string panel2 = kDevicePrefixCyrillic + std::to_string(State.DeviceAddress) + ";";
  StatusBar1.SetPanelText(2, panel2 + " Baud = " + row.speed_text);
}

void TForm1::BR_1200Click(TObject*) {
  BaudMenuClick(0);
}
void TForm1::BR_2400Click(TObject*) {
  BaudMenuClick(1);
}
void TForm1::BR_4800Click(TObject*) {
  BaudMenuClick(2);
}
void TForm1::BR_9600Click(TObject*) {
  BaudMenuClick(3);
}
void TForm1::BR_14400Click(TObject*) {
  BaudMenuClick(4);
}
void TForm1::BR_19200Click(TObject*) {
  BaudMenuClick(5);
}
void TForm1::BR_38400Click(TObject*) {
  BaudMenuClick(6);
}
void TForm1::BR_57600Click(TObject*) {
  BaudMenuClick(7);
}

void TForm1::TeSpinEdit1Change(TObject*) {
  // Another address: the grid showed the state of the one before (also when code set
  // the editor, at the end of a search). A query in flight answers for that one too.
  EmptyStatusValues(StatusGrid);
  address_changed_since_query_ = true;
  ShowEditorAddress();
}

void TForm1::TeSpinEdit1KeyPress(TObject*, char& Key) {
  // Enter confirms the address the editor shows; the grid stays that address's.
  if (Key == '\r') ShowEditorAddress();
}

void TForm1::ShowEditorAddress() {
  State.DeviceAddress = AddressOf(TeSpinEdit1);
  std::string panel2 = kDevicePrefixLatin + PadNumber(State.DeviceAddress, 3) + ";";
  StatusBar1.SetPanelText(2, panel2 + " Baud = " + CurrentBaudRow().speed_text + ";");
  TeLabel5.SetCaption(kAddressLabelPrefix + PadNumber(State.DeviceAddress, 3));
}

}  // namespace ornat
