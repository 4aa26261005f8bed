#include "panel/controls/error_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QtGlobal>
#include <utility>

#include "panel/controls/ui_services.h"

namespace pgx::panel {

namespace {

std::function<bool()>& VerboseSource() {
  static std::function<bool()> source;
  return source;
}

QString StateFolder() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
  return QStandardPaths::writableLocation(QStandardPaths::GenericStateLocation);
#else
  // The XDG state folder, as later Qt versions give it.
  const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
  if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) return xdg;
  return QStandardPaths::writableLocation(QStandardPaths::HomeLocation) + QStringLiteral("/.local/state");
#endif
}

}  // namespace

QString ErrorLogPath() {
  const QString named = qEnvironmentVariable(kErrorLogEnv);
  if (!named.isEmpty()) return named;
  return StateFolder() + QStringLiteral("/PgxFrontVI/") + kErrorLogFileName;
}

QByteArray FormatErrorLogRecord(const QDateTime& when, const QString& module, const QString& proc,
                                std::int32_t number, const QString& description) {
  QByteArray record;
  record += when.toString(QStringLiteral("MM/dd/yy HH:mm")).toUtf8() + "\r\n";
  record += "  Error: " + QByteArray::number(number) + ' ' + description.toUtf8() + "\r\n";
  record += "  Mod: " + module.toUtf8() + "; Proc: " + proc.toUtf8() + "\r\n\r\n";
  record += "\r\n";  // the line end every written line gets
  return record;
}

void SetVerboseErrorMsgSource(std::function<bool()> source) {
  VerboseSource() = std::move(source);
}

bool LogError(const QString& module, const QString& proc, std::int32_t number, const QString& description) {
  QString prefix;
  const std::function<bool()>& verbose = VerboseSource();
  if (verbose && verbose()) prefix = module + QStringLiteral("\r\n") + proc + QStringLiteral("\r\n\r\n");
  Ui().MsgBox(prefix + description, MsgIcon::kCritical);

  const QString path = ErrorLogPath();
  const QByteArray record =
      FormatErrorLogRecord(QDateTime::currentDateTime(), module, proc, number, description);
  QFile file(path);
  QString reason;
  const QString folder = QFileInfo(path).absolutePath();
  if (!QDir().mkpath(folder)) {
    reason = QStringLiteral("the folder %1 cannot be made").arg(QDir::toNativeSeparators(folder));
  } else if (!file.open(QIODevice::WriteOnly | QIODevice::Append) || file.write(record) != record.size() ||
             !file.flush()) {
    reason = file.errorString();
  }
  if (reason.isEmpty()) return true;
  Ui().MsgBox(
      QStringLiteral("The error log %1 cannot be written: %2").arg(QDir::toNativeSeparators(path), reason),
      MsgIcon::kCritical);
  return false;
}

}  // namespace pgx::panel
