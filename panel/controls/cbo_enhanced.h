// CboEnhanced: a combo box whose entries each carry a 32-bit datum (an enumeration value, say), and which
// remembers a selection per numbered slot (one per mode of the page that holds it, say).
#pragma once

#include <QComboBox>
#include <cstdint>
#include <map>

namespace pgx::panel {

class CboEnhanced : public QComboBox {
  Q_OBJECT

 public:
  explicit CboEnhanced(QWidget* parent = nullptr);

  // Appends an entry with its datum.
  void AddItemData(std::int32_t data, const QString& text);
  // Removes every entry; the remembered selections stay.
  void Clear();
  // Selects the first entry with `data`: true, or false with the selection unchanged.
  bool SetListIndexByItemData(std::int32_t data);
  // The datum of the selected entry, `none` when nothing is selected.
  std::int32_t GetCurrItemData(std::int32_t none = -1) const;

  // Remembers the selected index in `slot` (-1 for no selection).
  void SaveListIndex(int slot);
  // Selects the index remembered in `slot`: false (nothing changed) when the slot was never saved or its
  // index is no longer in the list.
  bool RecallListIndex(int slot);
  // Enabling (f true) recalls the selection of `slot`; disabling (f false) first remembers it there. Only a
  // change of the enabled state does either, so a second disable does not overwrite the remembered
  // selection with whatever was set while disabled.
  void EnableAndRecall(int slot, bool f);

 private:
  std::map<int, int> slots_;
};

}  // namespace pgx::panel
