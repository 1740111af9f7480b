#pragma once
// ControlVisitor: one Visit per kind of control the window has. A front end builds its
// widgets by visiting every control model (TControl::Accept): each Visit makes the
// widget of that kind and binds it to its model. A new kind of control is a new Visit
// here, and every front end that does not build it fails to compile, instead of
// showing an empty placeholder.

namespace ornat {

class TTeMenuBar;
class TTeGroupBox;
class TStatusBar;
class TTeLabel;
class TTeButton;
class TTeCheckBox;
class TTeRadioButton;
class TTeSpinEdit;
class TTeSComboBox;
class TTeMemo;
class TTeStringGrid;
class TTeProgressBar;

class ControlVisitor {
 public:
  virtual ~ControlVisitor() = default;
  virtual void Visit(TTeMenuBar& control) = 0;
  virtual void Visit(TTeGroupBox& control) = 0;
  virtual void Visit(TStatusBar& control) = 0;
  virtual void Visit(TTeLabel& control) = 0;
  virtual void Visit(TTeButton& control) = 0;
  virtual void Visit(TTeCheckBox& control) = 0;
  virtual void Visit(TTeRadioButton& control) = 0;
  virtual void Visit(TTeSpinEdit& control) = 0;
  virtual void Visit(TTeSComboBox& control) = 0;
  virtual void Visit(TTeMemo& control) = 0;
  virtual void Visit(TTeStringGrid& control) = 0;
  virtual void Visit(TTeProgressBar& control) = 0;
};

}  // namespace ornat
