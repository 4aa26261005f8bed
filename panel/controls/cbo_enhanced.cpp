#include "panel/controls/cbo_enhanced.h"

namespace pgx::panel {

CboEnhanced::CboEnhanced(QWidget* parent) : QComboBox(parent) {}

void CboEnhanced::AddItemData(std::int32_t data, const QString& text) {
  addItem(text, QVariant::fromValue<qint32>(data));
}

void CboEnhanced::Clear() {
  clear();
}

bool CboEnhanced::SetListIndexByItemData(std::int32_t data) {
  for (int i = 0; i < count(); ++i) {
    if (itemData(i).toInt() == data) {
      setCurrentIndex(i);
      return true;
    }
  }
  return false;
}

std::int32_t CboEnhanced::GetCurrItemData(std::int32_t none) const {
  const int index = currentIndex();
  if (index < 0) return none;
  return itemData(index).toInt();
}

void CboEnhanced::SaveListIndex(int slot) {
  slots_[slot] = currentIndex();
}

bool CboEnhanced::RecallListIndex(int slot) {
  const auto it = slots_.find(slot);
  if (it == slots_.end() || it->second >= count()) return false;
  setCurrentIndex(it->second);
  return true;
}

void CboEnhanced::EnableAndRecall(int slot, bool f) {
  const bool enabled = !testAttribute(Qt::WA_ForceDisabled);
  if (enabled == f) return;
  if (f) {
    setEnabled(true);
    RecallListIndex(slot);
  } else {
    SaveListIndex(slot);
    setEnabled(false);
  }
}

}  // namespace pgx::panel
