// FrameEnhanced: an option group. Its value is the tag text of the selected option button; it reports the
// selected option's index and can move the focus to it. Option buttons are added with AddOption, or placed
// in it as child QRadioButtons (in a form) with their tag in the dynamic property "tag" (SetTag).
#pragma once

#include <QGroupBox>
#include <QList>

class QAbstractButton;
class QButtonGroup;
class QRadioButton;

namespace pgx::panel {

class FrameEnhanced : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(QString Value READ Value WRITE SetValue NOTIFY ValueChanged USER true)
  Q_PROPERTY(int ListIndex READ ListIndex WRITE SetListIndex)

 public:
  explicit FrameEnhanced(QWidget* parent = nullptr);
  explicit FrameEnhanced(const QString& title, QWidget* parent = nullptr);

  // A new option button at the end, in a vertical layout the frame makes when it has none.
  QRadioButton* AddOption(const QString& text, const QString& tag);
  QList<QAbstractButton*> Options() const;

  // The tag of the selected option; empty when none is selected.
  QString Value() const;
  // Selects the first option whose tag is `tag`: false (nothing changed) when there is none.
  bool SetValue(const QString& tag);
  // The index of the selected option, -1 for none.
  int ListIndex() const;
  void SetListIndex(int index);
  // The focus to the selected option (the first enabled one when none is selected).
  void SetFocusOnOpt();

 signals:
  // The selection changed, by the user or a program.
  void ValueChanged(const QString& tag);
  // The user clicked option `index`.
  void OptionClicked(int index);

 protected:
  void childEvent(QChildEvent* event) override;

 private:
  void Adopt(QAbstractButton* button);

  QButtonGroup* group_;
};

}  // namespace pgx::panel
