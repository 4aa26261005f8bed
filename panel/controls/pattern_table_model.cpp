#include "panel/controls/pattern_table_model.h"

#include <QColor>

namespace pgx::panel {

PatternTableModel::PatternTableModel(const BitPatternModel& data, EditRequest edit, QObject* parent)
    : QAbstractTableModel(parent), data_(data), edit_(std::move(edit)), rows_(data.Length()) {}

void PatternTableModel::Refresh() {
  if (rows_ != data_.Length()) {
    beginResetModel();
    rows_ = data_.Length();
    endResetModel();
    return;
  }
  emit dataChanged(index(0, 0), index(rows_ - 1, kPatternChannelCount - 1));
}

int PatternTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int PatternTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kPatternChannelCount;
}

QVariant PatternTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const auto channel = static_cast<PatternChannel>(index.column());
  const int address = index.row() + 1;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return data_.Bit(channel, address) ? QStringLiteral("1") : QStringLiteral("0");
    case Qt::TextAlignmentRole:
      return static_cast<int>(Qt::AlignCenter);
    case Qt::ForegroundRole:
      if (channel == PatternChannel::kChannel2 && !data_.Channel2Exists()) return QColor(Qt::gray);
      return {};
    case Qt::BackgroundRole:
      if (address >= data_.StartAddress() && address <= data_.LastAddress()) return QColor(255, 244, 200);
      return {};
    default:
      return {};
  }
}

QVariant PatternTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return section + 1;
  static const char* const kNames[kPatternChannelCount] = {"Ch 1", "Ch 2", "Strobe"};
  return section >= 0 && section < kPatternChannelCount ? QString::fromLatin1(kNames[section]) : QVariant();
}

Qt::ItemFlags PatternTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool PatternTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  const QString text = value.toString().trimmed();
  if (text != QLatin1String("0") && text != QLatin1String("1")) return false;
  if (edit_) edit_(static_cast<PatternChannel>(index.column()), index.row() + 1, text == QLatin1String("1"));
  return true;
}

}  // namespace pgx::panel
