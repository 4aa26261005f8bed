#include "panel/controls/frame_enhanced.h"

#include <QButtonGroup>
#include <QChildEvent>
#include <QRadioButton>
#include <QVBoxLayout>

#include "panel/controls/utils.h"

namespace pgx::panel {

FrameEnhanced::FrameEnhanced(QWidget* parent) : FrameEnhanced(QString(), parent) {}

FrameEnhanced::FrameEnhanced(const QString& title, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
  group_->setExclusive(true);
  connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
    if (checked) emit ValueChanged(Value());
  });
  connect(group_, &QButtonGroup::idClicked, this, &FrameEnhanced::OptionClicked);
}

QRadioButton* FrameEnhanced::AddOption(const QString& text, const QString& tag) {
  if (!layout()) new QVBoxLayout(this);
  auto* button = new QRadioButton(text, this);
  SetTag(button, tag);
  Adopt(button);
  layout()->addWidget(button);
  return button;
}

void FrameEnhanced::Adopt(QAbstractButton* button) {
  if (group_->id(button) != -1) return;
  group_->addButton(button, static_cast<int>(group_->buttons().size()));
}

void FrameEnhanced::childEvent(QChildEvent* event) {
  QGroupBox::childEvent(event);
  // A radio button placed in the frame by a form becomes one of its options. Its type is known only
  // once it is constructed, so it is looked at when it is polished.
  if (event->type() == QEvent::ChildPolished) {
    if (auto* button = qobject_cast<QRadioButton*>(event->child())) Adopt(button);
  }
}

QList<QAbstractButton*> FrameEnhanced::Options() const {
  // Radio buttons a form put in the frame that were not polished yet (the frame was never shown).
  for (QRadioButton* button : findChildren<QRadioButton*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (group_->id(button) == -1) group_->addButton(button, static_cast<int>(group_->buttons().size()));
  }
  QList<QAbstractButton*> options;
  for (int id = 0; id < static_cast<int>(group_->buttons().size()); ++id) {
    if (QAbstractButton* b = group_->button(id)) options << b;
  }
  return options;
}

QString FrameEnhanced::Value() const {
  Options();
  return Tag(group_->checkedButton());
}

bool FrameEnhanced::SetValue(const QString& tag) {
  for (QAbstractButton* button : Options()) {
    if (Tag(button) == tag) {
      button->setChecked(true);
      return true;
    }
  }
  return false;
}

int FrameEnhanced::ListIndex() const {
  Options();
  return group_->checkedId();
}

void FrameEnhanced::SetListIndex(int index) {
  Options();
  if (QAbstractButton* button = group_->button(index)) button->setChecked(true);
}

void FrameEnhanced::SetFocusOnOpt() {
  Options();
  QAbstractButton* target = group_->checkedButton();
  if (!target) {
    for (QAbstractButton* button : Options()) {
      if (button->isEnabled()) {
        target = button;
        break;
      }
    }
  }
  if (target) SetFocusIfEnabled(target);
}

}  // namespace pgx::panel
