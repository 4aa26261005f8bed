// EngrSpinModel: the value model of the engineering-notation entry control, without widgets. It keeps the
// value inside Min and Max, builds the display text (a mantissa with SignificantDigits digits and an
// engineering prefix in the units label), reads typed text with or without a prefix or exponent, and steps
// the digit at the text cursor. The EngrSpin widget is a view on it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/controls/number_format.h"

namespace pgx::panel {

class EngrSpinModel {
 public:
  // Defaults of the persisted properties.
  static constexpr double kDefaultMax = 1e12;
  static constexpr double kDefaultMin = -1e12;
  static constexpr int kDefaultMaxExponent = 12;
  static constexpr int kDefaultMinExponent = -12;
  static constexpr const char* kDefaultNumberFormat = "##0.0##";
  static constexpr int kDefaultSignificantDigits = 4;
  // The automation error of an invalid property value at design time (the object-error base + 501).
  static constexpr std::int32_t kInvalidPropertyValue = static_cast<std::int32_t>(0x800401F5);
  // The error number logged when the value cannot be shown (infinity, NaN).
  static constexpr std::int32_t kErrOverflow = 6;

  enum class CommitResult { kNotRun, kCommitted, kRejected };

  struct Hooks {
    std::function<void()> after_update;  // a value change that came from the user
    std::function<void(std::int32_t number, const std::string& description)> conversion_failed;
    std::function<void(std::string_view property)> property_changed;  // for persistence
  };

  EngrSpinModel();
  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // ---- Persisted properties ----
  const std::string& BaseUnit() const { return base_unit_; }
  void SetBaseUnit(std::string unit);
  double DefaultValue() const { return default_value_; }
  void SetDefaultValue(double v);
  bool Locked() const { return locked_; }
  void SetLocked(bool locked);
  double Max() const { return max_; }
  void SetMax(double v);
  double Min() const { return min_; }
  void SetMin(double v);
  // Validated: at design time (UserMode false) a value that is not a multiple of 3, or beyond 12 (-12),
  // throws com_error 0x800401F5 from source "EngrSpin" and changes nothing; at run time the value is cut
  // toward zero to a multiple of 3 and limited to 12 (-12).
  int MaxExponent() const { return max_exponent_; }
  void SetMaxExponent(int v);
  int MinExponent() const { return min_exponent_; }
  void SetMinExponent(int v);
  const std::string& NumberFormatText() const { return number_format_.Text(); }
  void SetNumberFormat(std::string_view format);
  // Validated in both modes: outside 4 ... 10 throws.
  int SignificantDigits() const { return significant_digits_; }
  void SetSignificantDigits(int v);
  // Allowed values separated by ";" in the invariant form ("0.8E-9;1.6E-9"); empty for a continuous value.
  // Entries that are not numbers are skipped.
  const std::string& ValueArray() const { return value_array_text_; }
  void SetValueArray(std::string_view text);
  bool ArrayMode() const { return !value_array_.empty(); }
  const std::vector<double>& ArrayValues() const { return value_array_; }

  // ---- Value ----
  double Value() const { return value_; }
  // Clamps into Min ... Max; a non-zero value closer to zero than MinMagnitude moves on to the nearest
  // allowed value in the direction it came from (0 or +-MinMagnitude, within Min ... Max). In array mode
  // the result is the nearest allowed value. Rebuilds the display; raises after_update when the user has
  // started an edit.
  void SetValue(double v);
  double OldValue() const { return old_value_; }
  double MinMagnitude() const { return min_magnitude_; }
  void SetMinMagnitude(double v);
  // Min, Max, DefaultValue and MinMagnitude at once, then the value let again into the new range (no
  // after_update). False in array mode (the range comes from the array), nothing changed.
  bool SetDataParameters(double min, double max, double default_value, double min_magnitude);
  // The auxiliary quantity: Value, or 1/Value (0 for 0) when Reciprocal is set; its let sets Value.
  bool Reciprocal() const { return reciprocal_; }
  void SetReciprocal(bool f) { reciprocal_ = f; }
  double AuxValue() const;
  void SetAuxValue(double v);

  // ---- Environment ----
  bool UserMode() const { return user_mode_; }
  void SetUserMode(bool run_time) { user_mode_ = run_time; }
  bool UnitsVisible() const { return units_visible_; }
  void SetUnitsVisible(bool visible);
  const std::string& DecimalSep() const { return decimal_sep_; }
  void SetDecimalSep(std::string sep);

  // ---- Display ----
  bool EngMode() const { return eng_mode_; }
  int Exponent() const { return exponent_; }
  const std::string& Text() const { return text_; }
  // prefix(Exponent) + BaseUnit; just BaseUnit with engineering display off.
  std::string UnitsCaption() const;
  // The prefix of an engineering exponent: "p" ... "T", "" for 0, "*" for any other exponent.
  static std::string_view Prefix(int exponent);

  // ---- User input ----
  // The user starts to edit the text: false when Locked (the edit is refused), else the model is dirty.
  bool BeginEdit();
  bool Dirty() const { return dirty_; }
  // Discards the edit (the display shows Value again).
  void CancelEdit() { dirty_ = false; }
  // Commits typed text when it was edited and the commit is not re-entered: empty text gives DefaultValue,
  // a number is read in the displayed prefix unless it has an exponent, a number followed by a prefix and
  // unit is read in that prefix. kRejected leaves value and text as they were (the caller beeps).
  CommitResult CommitText(std::string_view text);
  // Programmatic text entry: the same reading, no after_update. False when the text is not a value.
  bool EnterText(std::string_view text);
  // One click of the spin button with its new value (>= 0 steps up, < 0 down) and the text cursor as a
  // byte offset into Text(). Returns the cursor on the stepped digit, or nothing when the click was
  // ignored (re-entered, or the model is dirty). Raises after_update.
  std::optional<int> Spin(int spin_value, int cursor);
  // The decimal position of the digit right of the cursor (0 units, 1 tens, -1 tenths) and back.
  int CaretDigit(std::string_view text, int cursor) const;
  int CursorForDigit(std::string_view text, int caret_digit) const;

  // Reading the persisted properties: no clamping, display rebuilding or change marking until EndReading,
  // which rebuilds the display once. Invalid stored exponents and digit counts are taken as at run time
  // (cut and limited) instead of throwing, so that a stored form always loads.
  void BeginReading() { reading_ = true; }
  void EndReading();
  bool Reading() const { return reading_; }

  // Pieces of the text reading, for tests and the widget.
  std::optional<double> ParseNumber(std::string_view text) const;
  std::optional<int> PrefixTextToExponent(std::string_view suffix) const;
  std::optional<double> TextToValue(std::string_view text) const;

 private:
  void ConvertValue2Engr();
  void UpdateEngMode();
  void Changed(std::string_view property);
  void ApplyValue(double v, bool from_user);
  double NearestAllowed(double v) const;
  int DisplayedExponent() const;
  [[noreturn]] static void RaiseInvalid(const char16_t* description);

  Hooks hooks_;
  std::string base_unit_;
  double default_value_ = 0;
  bool locked_ = false;
  double max_ = kDefaultMax;
  int max_exponent_ = kDefaultMaxExponent;
  double min_ = kDefaultMin;
  int min_exponent_ = kDefaultMinExponent;
  NumberFormat number_format_{kDefaultNumberFormat};
  int significant_digits_ = kDefaultSignificantDigits;
  std::string value_array_text_;
  std::vector<double> value_array_;

  double value_ = 0;
  double old_value_ = 0;
  double min_magnitude_ = 0;
  bool reciprocal_ = false;
  bool user_mode_ = true;
  bool units_visible_ = true;
  std::string decimal_sep_ = ".";

  bool reading_ = false;
  bool eng_mode_ = true;
  int exponent_ = 0;
  bool busy_ = false;
  bool spin_busy_ = false;
  bool dirty_ = false;
  std::string text_;
};

}  // namespace pgx::panel
