// The library's error log: the common end of every error trap. LogError shows the failure in a critical
// message box and appends a record to the error log file.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>

namespace pgx::panel {

// The environment variable that names another log file.
inline constexpr const char* kErrorLogEnv = "PGX_FRONT_ERROR_LOG";
inline const QString kErrorLogFileName = QStringLiteral("pgxfronterr.txt");

// The log file: the file PGX_FRONT_ERROR_LOG names, else pgxfronterr.txt in the folder PgxFrontVI of the
// user's state folder ($XDG_STATE_HOME, by default ~/.local/state).
QString ErrorLogPath();

// One record, byte for byte: "mm/dd/yy hh:nn" CR LF, "  Error: " number " " description CR LF,
// "  Mod: " module "; Proc: " proc CR LF, then two empty lines (CR LF CR LF). UTF-8.
QByteArray FormatErrorLogRecord(const QDateTime& when, const QString& module, const QString& proc,
                                std::int32_t number, const QString& description);

// Where LogError asks whether the message box should name module and procedure (the adapter's
// VerboseErrorMsg). Unset, or set to an empty function, it answers false.
void SetVerboseErrorMsgSource(std::function<bool()> source);

// Shows description in a critical box (prefixed with module CR LF proc CR LF CR LF when verbose) and
// appends the record to the log. A log that cannot be written is never passed over: a second critical box
// says which file and why, and the result is false.
bool LogError(const QString& module, const QString& proc, std::int32_t number, const QString& description);

}  // namespace pgx::panel
