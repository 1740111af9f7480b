// The Qt window's side of the view kit: for each kind of control model, the widget that
// shows it, bound to it: how the widget mirrors the model (Watch) and which of the
// model's "user" methods its input reaches (through the HandlerGate).

#include <QCheckBox>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyle>
#include <algorithm>
#include <optional>

#include "app/fonts.h"
#include "app/main_view.h"
#include "app/qt_canvas.h"
#include "app/qt_text.h"
#include "app/widgets.h"
#include "ui/toolkit/control_visitor.h"

namespace ornat {

namespace {

// The looks of the window definition that the models do not carry.
QFont FontOf(const std::string& name) {
  if (name == "TeMemo1") return LogFont();
  if (name == "TeSComboBox1") return ComboFont();
  if (name == "TeSpinEdit1" || name == "TeSpinEdit2") return EditorFont();
  return WindowFont();
}
int SpinBorderOf(const std::string& name) {
  return name == "TeSpinEdit2" ? 3 : 1;
}
constexpr int kComboItemHeight = 16;

// Our faces are a little wider than those the window was laid out for: a label whose
// text would pass its defined width gets tighter spacing, between words when a pixel
// less for each space is enough, else between letters, so that it keeps its place and
// size and still shows all of its text.
void FitTextToWidth(QWidget* w, const QString& text, int width) {
  QFont f = w->font();
  f.setWordSpacing(0);
  f.setLetterSpacing(QFont::AbsoluteSpacing, 0);
  const qreal excess = QFontMetricsF(f).horizontalAdvance(text) - width;
  const auto spaces = static_cast<qreal>(text.count(QChar(' ')));
  if (excess > 0 && spaces > 0 && excess <= spaces)
    f.setWordSpacing(-excess / spaces);
  else if (excess > 0)
    f.setLetterSpacing(QFont::AbsoluteSpacing, -excess / static_cast<qreal>(text.size()));
  w->setFont(f);
}

}  // namespace

// Makes one widget in `parent` for the control it visits; Made() is that widget.
class MainView::WidgetFactory : public ControlVisitor {
 public:
  WidgetFactory(MainView& view, QWidget* parent) : view_(view), parent_(parent) {}
  QWidget* Made() const { return made_; }

  void Visit(TTeMenuBar& m) override {
    QMenuBar* bar = view_.menu_bar_ = new QMenuBar(parent_);
    bar->setNativeMenuBar(false);
    bar->setFocusPolicy(Qt::StrongFocus);
    bar->installEventFilter(&view_);
    TTeItem* root = &m.Items();
    view_.menu_nodes_[root] = MenuNode{};
    // Every item of the definition is watched; port items created at run time report
    // their changes through their parent (PORT1).
    TForm1& form = view_.form_;
    std::vector<TTeItem*> watched = {root};
    for (TTeItem* item : form.AllMenuItems()) {
      const bool runtime = std::any_of(form.PortItems.begin(), form.PortItems.end(),
                                       [item](const auto& p) { return p.get() == item; });
      if (!runtime) watched.push_back(item);
    }
    for (TTeItem* item : watched) {
      item->Changed().Connect([weak = std::weak_ptr<bool>(view_.alive_), view = &view_, item] {
        if (weak.lock()) view->SyncMenu(item);
      });
    }
    view_.SyncMenu(root);
    view_.Watch(m, [] {});
    made_ = bar;
  }

  void Visit(TStatusBar& s) override {
    auto* w = new StatusBarWidget(s, parent_);
    view_.Watch(s, [w] { w->Mirror(); });
    made_ = w;
  }

  void Visit(TTeGroupBox& g) override {
    auto* w = new QGroupBox(parent_);
    view_.Watch(g, [w, &g] { w->setTitle(ToQString(g.Caption())); });
    made_ = w;
  }

  void Visit(TTeLabel& l) override {
    auto* w = new QLabel(parent_);
    w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    w->setTextFormat(Qt::PlainText);
    view_.labels_.push_back(w);
    view_.Watch(l, [view = &view_, w, &l] {
      w->setText(ToQString(l.Caption()));
      FitTextToWidth(w, w->text(), l.Width());
      // A tactic button's accessible name follows its label.
      for (TTeRadioButton* radio : view->radios_) {
        if (LabelBeside(*radio, view->form_.AllControls()) != &l) continue;
        if (QWidget* rw = view->WidgetOf(*radio)) rw->setAccessibleName(ToQString(l.Caption()));
      }
    });
    made_ = w;
  }

  void Visit(TTeButton& b) override {
    auto* w = new QPushButton(parent_);
    w->setAutoDefault(false);
    // The query button carries the retry picture (its disabled look drawn by the style).
    if (b.Name() == "TeButton5") w->setIcon(view_.style()->standardIcon(QStyle::SP_BrowserReload));
    QObject::connect(w, &QPushButton::clicked, &view_,
                     [view = &view_, &b] { view->Forward([&b] { b.Click(); }); });
    view_.Watch(b, [w, &b] { w->setText(ToQString(b.Caption())); });
    made_ = w;
  }

  void Visit(TTeCheckBox& cb) override {
    auto* w = new CheckBoxWidget(parent_);
    auto mirror = [w, &cb] {
      QSignalBlocker block(w);
      w->setText(ToQString(cb.Caption()));
      w->setChecked(cb.Checked());
    };
    QObject::connect(w, &QCheckBox::clicked, &view_, [view = &view_, &cb, mirror] {
      view->Forward([&cb] { cb.Click(); });
      mirror();
    });
    view_.Watch(cb, mirror);
    made_ = w;
  }

  void Visit(TTeRadioButton& rb) override {
    auto* w = new RadioButtonWidget(parent_);
    // The group's exclusion is the model's.
    w->setAutoExclusive(false);
    view_.radios_.push_back(&rb);
    auto mirror = [view = &view_, w, &rb] {
      QSignalBlocker block(w);
      w->setText(ToQString(rb.Caption()));
      w->setChecked(rb.Checked());
      if (const TTeLabel* l = LabelBeside(rb, view->form_.AllControls()))
        w->setAccessibleName(ToQString(l->Caption()));
    };
    QObject::connect(w, &QRadioButton::clicked, &view_, [view = &view_, &rb, mirror] {
      view->Forward([&rb] { rb.Click(); });
      mirror();
    });
    view_.Watch(rb, mirror);
    made_ = w;
  }

  void Visit(TTeSpinEdit& se) override {
    auto* w = new SpinEditWidget(se, view_.gate_, SpinBorderOf(se.Name()), parent_);
    w->setFont(FontOf(se.Name()));
    view_.Watch(se, [w] { w->Mirror(); });
    made_ = w;
  }

  void Visit(TTeSComboBox& co) override {
    auto* w = new SpeedComboBox(co, view_.gate_, kComboItemHeight, parent_);
    w->setFont(FontOf(co.Name()));
    view_.Watch(co, [w] { w->Mirror(); });
    made_ = w;
  }

  void Visit(TTeMemo& me) override {
    auto* w = new QPlainTextEdit(parent_);
    w->setFont(FontOf(me.Name()));
    w->setReadOnly(true);
    w->setUndoRedoEnabled(false);
    w->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    w->viewport()->setCursor(Qt::ArrowCursor);
    w->setAttribute(Qt::WA_InputMethodEnabled, false);
    // What the widget shows, so that a mirror that finds nothing new costs nothing.
    struct Shown {
      std::vector<std::string> lines;
      std::optional<TColor> color;
    };
    auto shown = std::make_shared<Shown>();
    // The log takes a handful of changes in every send and completion (cleared, its
    // colour set, each line added): it is shown once the handler has returned, so that
    // the request is written, and the sequencer re-armed, without waiting for it.
    view_.WatchAfterHandler(me, [w, &me, shown] {
      if (me.Lines() != shown->lines) {
        QStringList lines;
        for (const auto& line : me.Lines()) lines << ToQString(line);
        w->setPlainText(lines.join(QChar('\n')));
        shown->lines = me.Lines();
      }
      // One colour for every line.
      if (me.FontColor() != shown->color) {
        QPalette pal = w->palette();
        const QColor color = ToQColor(me.FontColor());
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
          pal.setColor(group, QPalette::Text, color);
        w->setPalette(pal);
        shown->color = me.FontColor();
      }
    });
    made_ = w;
  }

  void Visit(TTeStringGrid& gr) override {
    auto* w = new StatusGridWidget(gr, view_.gate_, parent_);
    view_.Watch(gr, [w] { w->update(); });
    made_ = w;
  }

  void Visit(TTeProgressBar& pb) override {
    auto* w = new QProgressBar(parent_);
    w->setTextVisible(false);
    w->setOrientation(Qt::Horizontal);
    view_.Watch(pb, [w, &pb] {
      w->setRange(pb.Min(), pb.Max());
      w->setValue(pb.Position());
    });
    made_ = w;
  }

 private:
  MainView& view_;
  QWidget* parent_;
  QWidget* made_ = nullptr;
};

QWidget* MainView::Build(TControl& control) {
  auto found = widgets_.find(&control);
  if (found != widgets_.end()) return found->second;
  QWidget* parent = control.Parent() != nullptr ? Build(*control.Parent()) : client_;
  WidgetFactory factory(*this, parent);
  control.Accept(factory);
  QWidget* w = factory.Made();
  w->setObjectName(ToQString(control.Name()));
  widgets_[&control] = w;
  controls_[w] = &control;
  return w;
}

}  // namespace ornat
