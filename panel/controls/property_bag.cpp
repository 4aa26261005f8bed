#include "panel/controls/property_bag.h"

#include <QSettings>

namespace pgx::panel {

QVariant MemoryPropertyBag::ReadProperty(const QString& name, const QVariant& default_value) {
  for (const auto& [key, value] : entries_) {
    if (key == name) return value;
  }
  return default_value;
}

void MemoryPropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant&) {
  for (auto& [key, stored] : entries_) {
    if (key == name) {
      stored = value;
      return;
    }
  }
  entries_.emplace_back(name, value);
}

QVariant SettingsPropertyBag::ReadProperty(const QString& name, const QVariant& default_value) {
  QVariant value = settings_.value(group_ + QLatin1Char('/') + name, default_value);
  if (default_value.isValid() && value.metaType() != default_value.metaType()) {
    if (!value.convert(default_value.metaType())) return default_value;
  }
  return value;
}

void SettingsPropertyBag::WriteProperty(const QString& name, const QVariant& value, const QVariant&) {
  settings_.setValue(group_ + QLatin1Char('/') + name, value);
}

}  // namespace pgx::panel
