// SpinButton: the up-down button of EngrSpin. Each click (and each auto-repeat while a button is held)
// reports the button's own value after the click: +1 for up, -1 for down; the value is back at 0 after.
#pragma once

#include <QWidget>

class QToolButton;

namespace pgx::panel {

class SpinButton : public QWidget {
  Q_OBJECT

 public:
  explicit SpinButton(QWidget* parent = nullptr);
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  QSize sizeHint() const override;

 signals:
  void Clicked(int spin_value);

 private:
  QToolButton* up_;
  QToolButton* down_;
};

}  // namespace pgx::panel
