// PropertyBag: where a control keeps its design-time properties between sessions of the form that holds
// it. WriteProperty gets the default too, so that a bag may leave defaults out; ReadProperty answers the
// default for a key it does not have.
#pragma once

#include <QString>
#include <QVariant>
#include <utility>
#include <vector>

class QSettings;

namespace pgx::panel {

class PropertyBag {
 public:
  virtual ~PropertyBag() = default;
  virtual QVariant ReadProperty(const QString& name, const QVariant& default_value) = 0;
  virtual void WriteProperty(const QString& name, const QVariant& value, const QVariant& default_value) = 0;
};

// Keeps every written key with its value's own type, in the order first written.
class MemoryPropertyBag final : public PropertyBag {
 public:
  QVariant ReadProperty(const QString& name, const QVariant& default_value) override;
  void WriteProperty(const QString& name, const QVariant& value, const QVariant& default_value) override;
  const std::vector<std::pair<QString, QVariant>>& Entries() const { return entries_; }

 private:
  std::vector<std::pair<QString, QVariant>> entries_;
};

// A group of a QSettings store (a form's file). Values read come back in the type of their default.
class SettingsPropertyBag final : public PropertyBag {
 public:
  SettingsPropertyBag(QSettings& settings, QString group) : settings_(settings), group_(std::move(group)) {}
  QVariant ReadProperty(const QString& name, const QVariant& default_value) override;
  void WriteProperty(const QString& name, const QVariant& value, const QVariant& default_value) override;

 private:
  QSettings& settings_;
  QString group_;
};

}  // namespace pgx::panel
