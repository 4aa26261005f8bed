#include "panel/controls/spin_button.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace pgx::panel {

namespace {

QToolButton* MakeArrow(Qt::ArrowType arrow, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setArrowType(arrow);
  button->setAutoRepeat(true);
  button->setFocusPolicy(Qt::NoFocus);  // the text cursor stays where the user put it
  button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  button->setIconSize(QSize(7, 7));
  return button;
}

}  // namespace

SpinButton::SpinButton(QWidget* parent)
    : QWidget(parent), up_(MakeArrow(Qt::UpArrow, this)), down_(MakeArrow(Qt::DownArrow, this)) {
  up_->setObjectName(QStringLiteral("spinUp"));
  down_->setObjectName(QStringLiteral("spinDown"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(up_);
  layout->addWidget(down_);
  setFocusPolicy(Qt::NoFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  connect(up_, &QToolButton::clicked, this, [this] { emit Clicked(+1); });
  connect(down_, &QToolButton::clicked, this, [this] { emit Clicked(-1); });
}

QSize SpinButton::sizeHint() const {
  return QSize(16, 22);
}

}  // namespace pgx::panel
