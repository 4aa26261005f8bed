// PatternTableModel: the numerical view of the pattern editor as a table model: a row per address, a column
// per channel, each cell "0" or "1". An edit of a cell is not applied here: it is handed to the editor, which
// may refuse it (channel 2 missing).
#pragma once

#include <QAbstractTableModel>
#include <functional>

#include "panel/controls/bit_pattern_model.h"

namespace pgx::panel {

class PatternTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using EditRequest = std::function<void(PatternChannel channel, int address, bool value)>;

  explicit PatternTableModel(const BitPatternModel& data, EditRequest edit, QObject* parent = nullptr);

  // The pattern's length or bits changed.
  void Refresh();

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 private:
  const BitPatternModel& data_;
  EditRequest edit_;
  int rows_;
};

}  // namespace pgx::panel
