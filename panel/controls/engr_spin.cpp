#include "panel/controls/engr_spin.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cmath>

#include "panel/controls/error_log.h"
#include "panel/controls/property_bag.h"
#include "panel/controls/spin_button.h"
#include "panel/controls/ui_services.h"
#include "panel/controls/utils.h"

namespace pgx::panel {

namespace {

std::string Std(const QString& s) {
  return s.toStdString();
}
QString ToQ(const std::string& s) {
  return QString::fromStdString(s);
}

// Text cursors: the model counts UTF-8 bytes, the line edit UTF-16 code units.
int ByteOffset(const QString& text, int cursor) {
  return static_cast<int>(text.left(cursor).toUtf8().size());
}
int CharOffset(const std::string& text, int bytes) {
  return static_cast<int>(QString::fromStdString(text.substr(0, static_cast<size_t>(bytes))).size());
}

}  // namespace

EngrSpin::EngrSpin(QWidget* parent)
    : QWidget(parent),
      lbl_caption_(new QLabel(this)),
      txt_number_(new QLineEdit(this)),
      lbl_units_(new QLabel(this)),
      spin_ctl_(new SpinButton(this)) {
  lbl_caption_->setObjectName(QStringLiteral("lblCaption"));
  txt_number_->setObjectName(QStringLiteral("txtNumber"));
  lbl_units_->setObjectName(QStringLiteral("lblUnits"));
  spin_ctl_->setObjectName(QStringLiteral("spinCtl"));

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(3);
  layout->addWidget(lbl_caption_);
  layout->addWidget(txt_number_, 1);
  layout->addWidget(lbl_units_);
  layout->addWidget(spin_ctl_);
  lbl_caption_->setVisible(false);
  txt_number_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  lbl_units_->setMinimumWidth(lbl_units_->fontMetrics().horizontalAdvance(QStringLiteral("mHz")));
  setFocusProxy(txt_number_);
  setFocusPolicy(Qt::StrongFocus);

  model_.SetHooks({
      .after_update =
          [this] {
            RefreshDisplay();
            emit AfterUpdate();
          },
      .conversion_failed =
          [](std::int32_t number, const std::string& description) {
            LogError(QStringLiteral("EngrSpin"), QStringLiteral("ConvertValue2Engr"), number,
                     ToQ(description));
          },
      .property_changed = [this](std::string_view name) { emit PropertyChanged(ToQ(std::string(name))); },
  });
  TakeLocaleSeparator();

  txt_number_->installEventFilter(this);
  connect(txt_number_, &QLineEdit::textEdited, this, &EngrSpin::TextEdited);
  connect(spin_ctl_, &SpinButton::Clicked, this, &EngrSpin::SpinClicked);
  UpdateLayout();
  RefreshDisplay();
}

EngrSpin::~EngrSpin() = default;

// ---- Properties ----

QString EngrSpin::BaseUnit() const {
  return ToQ(model_.BaseUnit());
}

void EngrSpin::SetBaseUnit(const QString& unit) {
  model_.SetBaseUnit(Std(unit));
  RefreshDisplay();
}

QString EngrSpin::Caption() const {
  return lbl_caption_->text();
}

void EngrSpin::SetCaption(const QString& caption) {
  lbl_caption_->setText(caption);
  if (!model_.Reading()) emit PropertyChanged(QStringLiteral("Caption"));
  UpdateLayout();
}

void EngrSpin::SetCaptionAlignment(int alignment) {
  caption_alignment_ = alignment;
  if (!model_.Reading()) emit PropertyChanged(QStringLiteral("CaptionAlignment"));
  UpdateLayout();
}

void EngrSpin::SetCaptionWidth(int width) {
  caption_width_ = width;
  if (!model_.Reading()) emit PropertyChanged(QStringLiteral("CaptionWidth"));
  UpdateLayout();
}

void EngrSpin::SetMaxExponent(int v) {
  model_.SetMaxExponent(v);
  RefreshDisplay();
}

void EngrSpin::SetMinExponent(int v) {
  model_.SetMinExponent(v);
  RefreshDisplay();
}

QString EngrSpin::NumberFormat() const {
  return ToQ(model_.NumberFormatText());
}

void EngrSpin::SetNumberFormat(const QString& format) {
  model_.SetNumberFormat(Std(format));
  RefreshDisplay();
}

void EngrSpin::SetSignificantDigits(int v) {
  model_.SetSignificantDigits(v);
  RefreshDisplay();
}

void EngrSpin::SetSpinCtlVisible(bool visible) {
  spin_ctl_visible_ = visible;
  if (!model_.Reading()) emit PropertyChanged(QStringLiteral("SpinCtlVisible"));
  UpdateLayout();
}

QString EngrSpin::ValueArray() const {
  return ToQ(model_.ValueArray());
}

void EngrSpin::SetValueArray(const QString& values) {
  model_.SetValueArray(Std(values));
  RefreshDisplay();
}

void EngrSpin::SetValue(double v) {
  model_.SetValue(v);
  RefreshDisplay();
}

void EngrSpin::SetAuxUnits(const QString& units) {
  aux_units_ = units;
  UpdateAuxToolTip();
}

void EngrSpin::SetAuxValue(double v) {
  model_.SetAuxValue(v);
  RefreshDisplay();
}

void EngrSpin::SetReciprocal(bool f) {
  model_.SetReciprocal(f);
  UpdateAuxToolTip();
}

QString EngrSpin::Text() const {
  return txt_number_->text();
}

void EngrSpin::SetText(const QString& text) {
  model_.EnterText(Std(text));
  RefreshDisplay();
}

void EngrSpin::SetTextBoxWidth(int width) {
  text_box_width_ = width;
  UpdateLayout();
}

void EngrSpin::SetUnitsVisible(bool visible) {
  model_.SetUnitsVisible(visible);
  UpdateLayout();
  RefreshDisplay();
}

void EngrSpin::LockControl(bool lock) {
  SetLocked(lock);
  spin_ctl_->setEnabled(!lock);
}

bool EngrSpin::SetDataParameters(double min, double max, double default_value, double min_magnitude) {
  if (!model_.SetDataParameters(min, max, default_value, min_magnitude)) {
    ShowErrorMessage(QStringLiteral("Illegal Mode for call"));
    return false;
  }
  RefreshDisplay();
  return true;
}

// ---- Persistence ----

void EngrSpin::SaveProperties(PropertyBag& bag) const {
  bag.WriteProperty("BaseUnit", BaseUnit(), QString());
  bag.WriteProperty("Caption", Caption(), QString());
  bag.WriteProperty("CaptionAlignment", QVariant::fromValue<qint32>(caption_alignment_),
                    QVariant::fromValue<qint32>(kAlignRight));
  bag.WriteProperty("CaptionWidth", QVariant::fromValue<qint16>(static_cast<qint16>(caption_width_)),
                    QVariant::fromValue<qint16>(0));
  bag.WriteProperty("DefaultValue", DefaultValue(), 0.0);
  bag.WriteProperty("Enabled", isEnabled(), true);
  bag.WriteProperty("Locked", Locked(), false);
  bag.WriteProperty("Max", Max(), EngrSpinModel::kDefaultMax);
  bag.WriteProperty("MaxExponent", QVariant::fromValue<qint32>(MaxExponent()),
                    QVariant::fromValue<qint32>(EngrSpinModel::kDefaultMaxExponent));
  bag.WriteProperty("Min", Min(), EngrSpinModel::kDefaultMin);
  bag.WriteProperty("MinExponent", QVariant::fromValue<qint32>(MinExponent()),
                    QVariant::fromValue<qint32>(EngrSpinModel::kDefaultMinExponent));
  bag.WriteProperty("NumberFormat", NumberFormat(), QString::fromLatin1(EngrSpinModel::kDefaultNumberFormat));
  bag.WriteProperty("SignificantDigits",
                    QVariant::fromValue<qint16>(static_cast<qint16>(SignificantDigits())),
                    QVariant::fromValue<qint16>(EngrSpinModel::kDefaultSignificantDigits));
  bag.WriteProperty("SpinCtlVisible", SpinCtlVisible(), true);
  bag.WriteProperty("ValueArray", ValueArray(), QString());
}

void EngrSpin::LoadProperties(PropertyBag& bag) {
  model_.BeginReading();
  SetBaseUnit(bag.ReadProperty("BaseUnit", QString()).toString());
  SetCaption(bag.ReadProperty("Caption", QString()).toString());
  SetCaptionAlignment(bag.ReadProperty("CaptionAlignment", QVariant::fromValue<qint32>(kAlignRight)).toInt());
  SetCaptionWidth(bag.ReadProperty("CaptionWidth", QVariant::fromValue<qint16>(0)).toInt());
  SetDefaultValue(bag.ReadProperty("DefaultValue", 0.0).toDouble());
  setEnabled(bag.ReadProperty("Enabled", true).toBool());
  SetLocked(bag.ReadProperty("Locked", false).toBool());
  SetMax(bag.ReadProperty("Max", EngrSpinModel::kDefaultMax).toDouble());
  SetMaxExponent(
      bag.ReadProperty("MaxExponent", QVariant::fromValue<qint32>(EngrSpinModel::kDefaultMaxExponent))
          .toInt());
  SetMin(bag.ReadProperty("Min", EngrSpinModel::kDefaultMin).toDouble());
  SetMinExponent(
      bag.ReadProperty("MinExponent", QVariant::fromValue<qint32>(EngrSpinModel::kDefaultMinExponent))
          .toInt());
  SetNumberFormat(
      bag.ReadProperty("NumberFormat", QString::fromLatin1(EngrSpinModel::kDefaultNumberFormat)).toString());
  SetSignificantDigits(bag.ReadProperty("SignificantDigits",
                                        QVariant::fromValue<qint16>(EngrSpinModel::kDefaultSignificantDigits))
                           .toInt());
  SetSpinCtlVisible(bag.ReadProperty("SpinCtlVisible", true).toBool());
  SetValueArray(bag.ReadProperty("ValueArray", QString()).toString());
  model_.EndReading();
  model_.CancelEdit();
  model_.SetValue(model_.DefaultValue());
  RefreshDisplay();
}

// ---- The text box and the spin button ----

bool EngrSpin::eventFilter(QObject* watched, QEvent* event) {
  if (watched != txt_number_) return QWidget::eventFilter(watched, event);
  if (event->type() == QEvent::FocusOut) {
    Commit();
  } else if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Commit();
        return true;
      case Qt::Key_Escape:
        if (model_.Dirty()) {
          model_.CancelEdit();
          RefreshDisplay();
          return true;
        }
        break;
      case Qt::Key_Up:
        SpinClicked(+1);
        return true;
      case Qt::Key_Down:
        SpinClicked(-1);
        return true;
      case Qt::Key_Tab:
      case Qt::Key_Backtab:
        Commit();
        emit OnTab(key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier));
        break;  // the focus moves on as usual
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void EngrSpin::TextEdited() {
  if (model_.BeginEdit()) return;
  // Locked: the edit is refused.
  RefreshDisplay();
  ShowLockedBox();
}

void EngrSpin::ShowLockedBox() {
  Ui().MsgBox(QStringLiteral("Value is locked and cannot be edited"), MsgIcon::kInformation);
}

void EngrSpin::Commit() {
  const int cursor = txt_number_->cursorPosition();
  switch (model_.CommitText(Std(txt_number_->text()))) {
    case EngrSpinModel::CommitResult::kCommitted:
      RefreshDisplay();
      break;
    case EngrSpinModel::CommitResult::kRejected:
      Ui().Beep();
      txt_number_->setCursorPosition(cursor);
      break;
    case EngrSpinModel::CommitResult::kNotRun:
      break;
  }
}

void EngrSpin::SpinClicked(int spin_value) {
  if (model_.Locked()) {
    ShowLockedBox();
    return;
  }
  if (model_.Dirty()) {
    Commit();
    if (model_.Dirty()) return;  // the typed text is not a value: nothing to step from
  }
  const QString shown = txt_number_->text();
  const std::optional<int> cursor = model_.Spin(spin_value, ByteOffset(shown, txt_number_->cursorPosition()));
  if (!cursor) return;
  RefreshDisplay();
  txt_number_->setCursorPosition(CharOffset(model_.Text(), *cursor));
}

// ---- Display ----

void EngrSpin::RefreshDisplay() {
  if (model_.Reading()) return;
  const QString text = ToQ(model_.Text());
  if (!model_.Dirty() && txt_number_->text() != text) {
    const int cursor = txt_number_->cursorPosition();
    txt_number_->setText(text);
    txt_number_->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
  }
  lbl_units_->setText(ToQ(model_.UnitsCaption()));
  UpdateAuxToolTip();
  if (model_.Value() != shown_value_) {
    shown_value_ = model_.Value();
    emit ValueChanged(shown_value_);
  }
}

void EngrSpin::UpdateLayout() {
  if (model_.Reading()) return;
  lbl_caption_->setVisible(!lbl_caption_->text().isEmpty());
  Qt::Alignment align = Qt::AlignRight;
  if (caption_alignment_ == kAlignLeft) align = Qt::AlignLeft;
  if (caption_alignment_ == kAlignCenter) align = Qt::AlignHCenter;
  lbl_caption_->setAlignment(align | Qt::AlignVCenter);
  if (caption_width_ > 0) {
    lbl_caption_->setFixedWidth(caption_width_);
  } else {
    lbl_caption_->setMinimumWidth(0);
    lbl_caption_->setMaximumWidth(QWIDGETSIZE_MAX);
  }
  if (text_box_width_ > 0) {
    txt_number_->setFixedWidth(text_box_width_);
  } else {
    txt_number_->setMinimumWidth(txt_number_->fontMetrics().horizontalAdvance(QStringLiteral("-888.8888")) +
                                 12);
    txt_number_->setMaximumWidth(QWIDGETSIZE_MAX);
  }
  lbl_units_->setVisible(model_.UnitsVisible());
  spin_ctl_->setVisible(spin_ctl_visible_);
}

void EngrSpin::UpdateAuxToolTip() {
  if (aux_units_.isEmpty()) {
    txt_number_->setToolTip(QString());
    return;
  }
  EngrSpinModel aux;
  aux.SetMax(HUGE_VAL);
  aux.SetMin(-HUGE_VAL);
  aux.SetDecimalSep(model_.DecimalSep());
  aux.SetSignificantDigits(model_.SignificantDigits());
  aux.SetBaseUnit(Std(aux_units_));
  aux.SetValue(model_.AuxValue());
  txt_number_->setToolTip(QStringLiteral("= %1 %2").arg(ToQ(aux.Text()), ToQ(aux.UnitsCaption())));
}

void EngrSpin::TakeLocaleSeparator() {
  model_.SetDecimalSep(Std(locale().decimalPoint()));
  RefreshDisplay();
}

void EngrSpin::changeEvent(QEvent* event) {
  if (event->type() == QEvent::LocaleChange) TakeLocaleSeparator();
  QWidget::changeEvent(event);
}

}  // namespace pgx::panel
