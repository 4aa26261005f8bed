#include "panel/controls/error_log.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "panel/controls/testing/recording_ui_services.h"

namespace pgx::panel {
namespace {

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    saved_env_ = qgetenv(kErrorLogEnv);
    log_path_ = dir_.filePath(QStringLiteral("log/errors.txt"));
    qputenv(kErrorLogEnv, log_path_.toUtf8());
  }
  void TearDown() override {
    qputenv(kErrorLogEnv, saved_env_);
    SetVerboseErrorMsgSource({});
  }
  QByteArray LogContents() const {
    QFile f(log_path_);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir_;
  QByteArray saved_env_;
  QString log_path_;
  testing::RecordingUiServices ui_;
  ScopedUiServices scope_{ui_};
};

TEST_F(ErrorLogTest, RecordIsThreeLinesAndTwoEmptyLinesWithCrLf) {
  const QDateTime when(QDate(2024, 3, 7), QTime(9, 5, 59));
  EXPECT_EQ(FormatErrorLogRecord(when, "EngrSpin", "ConvertValue2Engr", 91, "Object not set"),
            QByteArray("03/07/24 09:05\r\n"
                       "  Error: 91 Object not set\r\n"
                       "  Mod: EngrSpin; Proc: ConvertValue2Engr\r\n"
                       "\r\n"
                       "\r\n"));
  // A negative number (an HRESULT) keeps its sign; the afternoon is written on the 24-hour clock.
  EXPECT_EQ(FormatErrorLogRecord(QDateTime(QDate(1999, 12, 31), QTime(23, 59)), "m", "p", -2147221504, "x"),
            QByteArray("12/31/99 23:59\r\n  Error: -2147221504 x\r\n  Mod: m; Proc: p\r\n\r\n\r\n"));
}

TEST_F(ErrorLogTest, LogErrorShowsACriticalBoxAndAppendsOneRecordPerCall) {
  const QDateTime before = QDateTime::currentDateTime();
  EXPECT_TRUE(LogError("clsInstrInterface", "Connect", 429, QString::fromUtf8("Can't create object \u00b5")));
  EXPECT_TRUE(LogError("modUtils", "FmtHex", 6, "Overflow"));
  const QDateTime after = QDateTime::currentDateTime();

  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[0].text, QString::fromUtf8("Can't create object \u00b5"));
  EXPECT_EQ(ui_.messages[0].icon, MsgIcon::kCritical);
  EXPECT_EQ(ui_.messages[0].caption, "PgxFrontVI");

  const QByteArray first = FormatErrorLogRecord(before, "clsInstrInterface", "Connect", 429,
                                                QString::fromUtf8("Can't create object \u00b5"));
  const QByteArray second = FormatErrorLogRecord(before, "modUtils", "FmtHex", 6, "Overflow");
  QByteArray log = LogContents();
  ASSERT_EQ(log.size(), first.size() + second.size()) << log.toStdString();
  // Each record starts with the time of its call, to the minute; the rest is byte for byte.
  const QString format = QStringLiteral("MM/dd/yy HH:mm");
  for (qsizetype at : {qsizetype{0}, first.size()}) {
    const QByteArray stamp = log.mid(at, 14);
    EXPECT_TRUE(stamp == before.toString(format).toUtf8() || stamp == after.toString(format).toUtf8())
        << stamp.toStdString();
    log.replace(at, 14, before.toString(format).toUtf8());
  }
  EXPECT_EQ(log, first + second);
}

TEST_F(ErrorLogTest, VerboseSourceNamesModuleAndProcedureInTheBoxOnly) {
  SetVerboseErrorMsgSource([] { return true; });
  LogError("EngrSpin", "ConvertValue2Engr", 13, "Type mismatch");
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "EngrSpin\r\nConvertValue2Engr\r\n\r\nType mismatch");
  EXPECT_TRUE(LogContents().contains("  Error: 13 Type mismatch\r\n"));
}

TEST_F(ErrorLogTest, AnUnwritableLogIsReportedNotLost) {
  // The log's folder is a plain file, so neither the folder nor the log can be made.
  QFile blocker(dir_.filePath("log"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();

  EXPECT_FALSE(LogError("modUtils", "SetOptionButtonToTag", 91, "Object variable not set"));
  ASSERT_EQ(ui_.messages.size(), 2u);
  EXPECT_EQ(ui_.messages[0].text, "Object variable not set");
  EXPECT_TRUE(ui_.messages[1].text.startsWith("The error log ")) << ui_.messages[1].text.toStdString();
  EXPECT_TRUE(ui_.messages[1].text.contains(log_path_));
  EXPECT_EQ(ui_.messages[1].icon, MsgIcon::kCritical);
}

TEST_F(ErrorLogTest, DefaultLogIsInTheUsersStateFolder) {
  const QByteArray saved_state = qgetenv("XDG_STATE_HOME");
  qunsetenv(kErrorLogEnv);
  qputenv("XDG_STATE_HOME", dir_.path().toUtf8());
  EXPECT_EQ(ErrorLogPath(), dir_.path() + "/PgxFrontVI/pgxfronterr.txt");
  EXPECT_TRUE(LogError("m", "p", 1, "d"));
  EXPECT_TRUE(QFile::exists(dir_.path() + "/PgxFrontVI/pgxfronterr.txt"));
  qputenv("XDG_STATE_HOME", saved_state);
}

}  // namespace
}  // namespace pgx::panel
