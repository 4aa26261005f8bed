// EngrSpin: the numeric entry field for continuous instrument parameters, a view on EngrSpinModel. A caption
// label (lblCaption), a text box (txtNumber), a units label with the engineering prefix (lblUnits) and an
// up-down button (spinCtl).
//
// Keys in the text box: Return commits the typed text, Escape puts the value back, Up and Down step the
// digit right of the cursor like the spin button, Tab and Shift+Tab commit, raise OnTab and move the focus
// on. Leaving the text box commits too. Text that is not a value beeps and stays for correction; the value
// keeps what it was.
//
// Members beyond the persisted properties:
//   AuxUnits, AuxValue, Reciprocal  an auxiliary quantity in other units: AuxValue is Value, or 1/Value when
//                                   Reciprocal is set (a period field with its frequency); AuxUnits names its
//                                   unit. With AuxUnits set, the text box's tool tip shows it ("= 1.000
//                                   MHz").
//   LockControl(f)                  Locked, and the spin button greyed while locked.
//   SetDataParameters(min, max, default, min_magnitude)
//                                   the range, DefaultValue and MinMagnitude at once, then the value let
//                                   again; with a ValueArray it reports "Illegal Mode for call" and changes
//                                   nothing.
//   ValueArray                      allowed values ("0.8E-9;1.6E-9", invariant form): the spin button steps
//                                   through them and any value let lands on the nearest.
//   MinMagnitude                    the smallest non-zero magnitude of the value (0: none).
//   UnitsVisible                    shows the units label; without it the display is plain (NumberFormat).
//   UserMode                        false while a form is designed: invalid exponent and digit values then
//                                   throw com_error 0x800401F5 (source "EngrSpin") and change nothing.
#pragma once

#include <QWidget>

#include "panel/controls/engr_spin_model.h"

class QLabel;
class QLineEdit;

namespace pgx::panel {

class PropertyBag;
class SpinButton;

class EngrSpin : public QWidget {
  Q_OBJECT
  // Persisted, in the order the property bag holds them.
  Q_PROPERTY(QString BaseUnit READ BaseUnit WRITE SetBaseUnit)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(int CaptionAlignment READ CaptionAlignment WRITE SetCaptionAlignment)
  Q_PROPERTY(int CaptionWidth READ CaptionWidth WRITE SetCaptionWidth)
  Q_PROPERTY(double DefaultValue READ DefaultValue WRITE SetDefaultValue)
  Q_PROPERTY(bool Locked READ Locked WRITE SetLocked)
  Q_PROPERTY(double Max READ Max WRITE SetMax)
  Q_PROPERTY(int MaxExponent READ MaxExponent WRITE SetMaxExponent)
  Q_PROPERTY(double Min READ Min WRITE SetMin)
  Q_PROPERTY(int MinExponent READ MinExponent WRITE SetMinExponent)
  Q_PROPERTY(QString NumberFormat READ NumberFormat WRITE SetNumberFormat)
  Q_PROPERTY(int SignificantDigits READ SignificantDigits WRITE SetSignificantDigits)
  Q_PROPERTY(bool SpinCtlVisible READ SpinCtlVisible WRITE SetSpinCtlVisible)
  Q_PROPERTY(QString ValueArray READ ValueArray WRITE SetValueArray)
  // Run time.
  Q_PROPERTY(double Value READ Value WRITE SetValue NOTIFY ValueChanged USER true)
  Q_PROPERTY(double OldValue READ OldValue)
  Q_PROPERTY(double MinMagnitude READ MinMagnitude WRITE SetMinMagnitude)
  Q_PROPERTY(QString AuxUnits READ AuxUnits WRITE SetAuxUnits)
  Q_PROPERTY(double AuxValue READ AuxValue WRITE SetAuxValue)
  Q_PROPERTY(bool Reciprocal READ Reciprocal WRITE SetReciprocal)
  Q_PROPERTY(QString Text READ Text WRITE SetText)
  Q_PROPERTY(int TextBoxWidth READ TextBoxWidth WRITE SetTextBoxWidth)
  Q_PROPERTY(bool UnitsVisible READ UnitsVisible WRITE SetUnitsVisible)
  Q_PROPERTY(bool UserMode READ UserMode WRITE SetUserMode)

 public:
  // CaptionAlignment values.
  enum CaptionAlign { kAlignLeft = 0, kAlignRight = 1, kAlignCenter = 2 };

  explicit EngrSpin(QWidget* parent = nullptr);
  ~EngrSpin() override;

  QString BaseUnit() const;
  void SetBaseUnit(const QString& unit);
  QString Caption() const;
  void SetCaption(const QString& caption);
  int CaptionAlignment() const { return caption_alignment_; }
  void SetCaptionAlignment(int alignment);
  int CaptionWidth() const { return caption_width_; }
  void SetCaptionWidth(int width);
  double DefaultValue() const { return model_.DefaultValue(); }
  void SetDefaultValue(double v) { model_.SetDefaultValue(v); }
  bool Locked() const { return model_.Locked(); }
  void SetLocked(bool locked) { model_.SetLocked(locked); }
  double Max() const { return model_.Max(); }
  void SetMax(double v) { model_.SetMax(v); }
  int MaxExponent() const { return model_.MaxExponent(); }
  void SetMaxExponent(int v);
  double Min() const { return model_.Min(); }
  void SetMin(double v) { model_.SetMin(v); }
  int MinExponent() const { return model_.MinExponent(); }
  void SetMinExponent(int v);
  QString NumberFormat() const;
  void SetNumberFormat(const QString& format);
  int SignificantDigits() const { return model_.SignificantDigits(); }
  void SetSignificantDigits(int v);
  bool SpinCtlVisible() const { return spin_ctl_visible_; }
  void SetSpinCtlVisible(bool visible);
  QString ValueArray() const;
  void SetValueArray(const QString& values);

  double Value() const { return model_.Value(); }
  void SetValue(double v);
  double OldValue() const { return model_.OldValue(); }
  double MinMagnitude() const { return model_.MinMagnitude(); }
  void SetMinMagnitude(double v) { model_.SetMinMagnitude(v); }
  QString AuxUnits() const { return aux_units_; }
  void SetAuxUnits(const QString& units);
  double AuxValue() const { return model_.AuxValue(); }
  void SetAuxValue(double v);
  bool Reciprocal() const { return model_.Reciprocal(); }
  void SetReciprocal(bool f);
  QString Text() const;
  // Reads the text as if typed and committed (without AfterUpdate); text that is not a value changes
  // nothing.
  void SetText(const QString& text);
  int TextBoxWidth() const { return text_box_width_; }
  void SetTextBoxWidth(int width);
  bool UnitsVisible() const { return model_.UnitsVisible(); }
  void SetUnitsVisible(bool visible);
  bool UserMode() const { return model_.UserMode(); }
  void SetUserMode(bool run_time) { model_.SetUserMode(run_time); }

  void LockControl(bool lock);
  bool SetDataParameters(double min, double max, double default_value, double min_magnitude);

  // The persisted properties with their keys, types and defaults, in their order. Loading defers the
  // display until every property is in, then shows DefaultValue.
  void SaveProperties(PropertyBag& bag) const;
  void LoadProperties(PropertyBag& bag);

  const EngrSpinModel& Model() const { return model_; }
  QLabel* CaptionLabel() const { return lbl_caption_; }
  QLineEdit* TextBox() const { return txt_number_; }
  QLabel* UnitsLabel() const { return lbl_units_; }
  SpinButton* SpinControl() const { return spin_ctl_; }

 signals:
  // A value change that came from the user: a committed edit or a spin click.
  void AfterUpdate();
  // Tab (backward false) or Shift+Tab (true) in the text box, after the commit.
  void OnTab(bool backward);
  // Any change of Value, the user's or a program's.
  void ValueChanged(double value);
  // A persisted property changed (for the form that keeps them).
  void PropertyChanged(const QString& name);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Commit();
  void TextEdited();
  void SpinClicked(int spin_value);
  void RefreshDisplay();
  void UpdateLayout();
  void UpdateAuxToolTip();
  void ShowLockedBox();
  void TakeLocaleSeparator();

  EngrSpinModel model_;
  QLabel* lbl_caption_;
  QLineEdit* txt_number_;
  QLabel* lbl_units_;
  SpinButton* spin_ctl_;
  int caption_alignment_ = kAlignRight;
  int caption_width_ = 0;
  int text_box_width_ = 0;
  bool spin_ctl_visible_ = true;
  QString aux_units_;
  double shown_value_ = 0;
};

}  // namespace pgx::panel
