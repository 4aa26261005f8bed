// pgxcontrols: shows every control of PgxFrontVI with sample data: EngrSpin fields of a pulse generator's
// timing and levels, an enhanced combo box, an option group and the pattern editor in both views.
// With --screenshots DIR it renders each control to a PNG in DIR (Fusion style, a fixed font) and exits.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <cstdio>

#include "panel/controls/bit_pattern.h"
#include "panel/controls/cbo_enhanced.h"
#include "panel/controls/engr_spin.h"
#include "panel/controls/frame_enhanced.h"
#include "panel/controls/testing/reference_prbs.h"
#include "panel/controls/waveform_view.h"

using pgx::panel::BitPattern;
using pgx::panel::BitPatternModel;
using pgx::panel::CboEnhanced;
using pgx::panel::EngrSpin;
using pgx::panel::FrameEnhanced;
using pgx::panel::PatternChannel;

namespace {

EngrSpin* Field(const QString& caption, const QString& unit, double value, QWidget* parent) {
  auto* es = new EngrSpin(parent);
  es->SetCaption(caption);
  es->SetCaptionWidth(92);
  es->SetBaseUnit(unit);
  es->SetValue(value);
  return es;
}

// The EngrSpin fields of a timing and levels page.
QWidget* MakeFields(QWidget* parent) {
  auto* box = new QGroupBox(QStringLiteral("EngrSpin"), parent);
  auto* layout = new QVBoxLayout(box);
  EngrSpin* period = Field(QStringLiteral("Period"), QStringLiteral("s"), 1.234e-6, box);
  period->SetDataParameters(3.03e-9, 999.5e-3, 1e-6, 1e-12);
  period->SetAuxUnits(QStringLiteral("Hz"));
  period->SetReciprocal(true);
  layout->addWidget(period);
  EngrSpin* width = Field(QStringLiteral("Width"), QStringLiteral("s"), 250e-9, box);
  width->SetSignificantDigits(6);
  layout->addWidget(width);
  EngrSpin* lead = Field(QStringLiteral("Lead Edge"), QStringLiteral("s"), 0.8e-9, box);
  lead->SetValueArray(QStringLiteral("0.8E-9;1.6E-9"));
  layout->addWidget(lead);
  EngrSpin* high = Field(QStringLiteral("High"), QStringLiteral("V"), 2.5, box);
  high->SetDataParameters(-9.9, 10, 0, 10e-3);
  high->SetValue(-0.125);
  layout->addWidget(high);
  EngrSpin* burst = Field(QStringLiteral("Burst Length"), QString(), 4096, box);
  burst->SetMinExponent(0);
  burst->SetMaxExponent(0);
  burst->SetUnitsVisible(false);
  burst->SetNumberFormat(QStringLiteral("0"));
  burst->SetSpinCtlVisible(false);
  layout->addWidget(burst);
  EngrSpin* locked = Field(QStringLiteral("Impedance"), QStringLiteral("Ohm"), 50, box);
  locked->LockControl(true);
  layout->addWidget(locked);
  return box;
}

QWidget* MakeCombo(QWidget* parent) {
  auto* box = new QGroupBox(QStringLiteral("CboEnhanced"), parent);
  auto* layout = new QGridLayout(box);
  auto* cbo = new CboEnhanced(box);
  cbo->setObjectName(QStringLiteral("cboArmingSource"));
  cbo->AddItemData(0, QStringLiteral("Immediate"));
  cbo->AddItemData(1, QStringLiteral("External"));
  cbo->AddItemData(2, QStringLiteral("Manual Key"));
  cbo->AddItemData(10, QStringLiteral("VXI ECLT 0"));
  cbo->AddItemData(11, QStringLiteral("VXI ECLT 1"));
  for (int i = 0; i < 8; ++i) cbo->AddItemData(20 + i, QStringLiteral("VXI TTLT %1").arg(i));
  cbo->SetListIndexByItemData(10);
  layout->addWidget(new QLabel(QStringLiteral("Arming Source"), box), 0, 0);
  layout->addWidget(cbo, 0, 1);
  auto* slope = new CboEnhanced(box);
  slope->AddItemData(0, QStringLiteral("Positive"));
  slope->AddItemData(1, QStringLiteral("Negative"));
  slope->EnableAndRecall(1, false);
  layout->addWidget(new QLabel(QStringLiteral("Clock Edge"), box), 1, 0);
  layout->addWidget(slope, 1, 1);
  return box;
}

QWidget* MakeFrames(QWidget* parent) {
  auto* holder = new QWidget(parent);
  auto* layout = new QHBoxLayout(holder);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* upload = new FrameEnhanced(QStringLiteral("Upload TO Instrument"), holder);
  upload->AddOption(QStringLiteral("From ALL changed pages"), QStringLiteral("All"));
  upload->AddOption(QStringLiteral("From the visible page ONLY"), QStringLiteral("Visible"));
  upload->SetValue(QStringLiteral("All"));
  auto* download = new FrameEnhanced(QStringLiteral("Download FROM Instrument"), holder);
  download->AddOption(QStringLiteral(" To ALL pages"), QStringLiteral("All"));
  download->AddOption(QStringLiteral(" To the visible page ONLY"), QStringLiteral("Visible"));
  download->SetValue(QStringLiteral("Visible"));
  layout->addWidget(upload);
  layout->addWidget(download);
  return holder;
}

// A pattern of 512 positions: a PRBS 2^7 - 1 on channel 1 (RZ), a clock / 8 on channel 2, a strobe at the
// start of each 128 positions.
BitPattern* MakePattern(QWidget* parent) {
  auto* editor = new BitPattern(parent);
  editor->SetCalcPrbs(pgx::panel::testing::ReferencePrbs);
  editor->SetPatternLength(512);
  std::vector<std::uint8_t> ch1(64, 0);
  pgx::panel::testing::ReferencePrbs(1, 512, 7, ch1);
  editor->SetPatternBytes(PatternChannel::kChannel1, ch1);
  std::vector<std::uint8_t> ch2(64);
  for (int i = 0; i < 512; ++i) {
    if (BitPatternModel::ClockBit(i, 8))
      ch2[static_cast<size_t>(i / 8)] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
  }
  editor->SetPatternBytes(PatternChannel::kChannel2, ch2);
  std::vector<std::uint8_t> strobe(64, 0);
  for (int i = 0; i < 512; i += 128) strobe[static_cast<size_t>(i / 8)] = 0x80;
  editor->SetPatternBytes(PatternChannel::kStrobe, strobe);
  editor->SetRz(1, true);
  editor->SetStartAddress(33);
  editor->SetLastAddress(64);
  return editor;
}

bool Save(QWidget* widget, const QDir& dir, const QString& name) {
  const QString path = dir.filePath(name);
  if (!widget->grab().save(path)) {
    std::fprintf(stderr, "pgxcontrols: cannot write %s\n", qUtf8Printable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("pgxcontrols"));
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Shows the controls of PgxFrontVI with sample data."));
  parser.addHelpOption();
  const QCommandLineOption shots(QStringLiteral("screenshots"),
                                 QStringLiteral("Render each control to a PNG in <dir> and exit."),
                                 QStringLiteral("dir"));
  parser.addOption(shots);
  parser.process(app);
  const bool screenshots = parser.isSet(shots);
  if (screenshots) {
    // The same pictures on every machine: Fusion, and a font every Debian desktop has.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QApplication::setFont(font);
  }

  QWidget window;
  window.setWindowTitle(QStringLiteral("PgxFrontVI controls"));
  auto* tabs = new QTabWidget(&window);
  auto* fields_page = new QWidget;
  auto* fields_layout = new QGridLayout(fields_page);
  QWidget* fields = MakeFields(fields_page);
  QWidget* combo = MakeCombo(fields_page);
  QWidget* frames = MakeFrames(fields_page);
  fields_layout->addWidget(fields, 0, 0, 2, 1);
  fields_layout->addWidget(combo, 0, 1);
  fields_layout->addWidget(frames, 1, 1);
  fields_layout->setRowStretch(2, 1);
  tabs->addTab(fields_page, QStringLiteral("Fields and lists"));
  BitPattern* pattern = MakePattern(nullptr);
  tabs->addTab(pattern, QStringLiteral("Pattern"));
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(tabs);
  window.resize(900, 520);
  window.show();

  if (!screenshots) return QApplication::exec();

  QDir dir(parser.value(shots));
  if (!dir.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "pgxcontrols: cannot make %s\n", qUtf8Printable(dir.path()));
    return 1;
  }
  QApplication::processEvents();
  int written = 0;
  written += Save(fields, dir, QStringLiteral("engr_spin.png"));
  written += Save(combo, dir, QStringLiteral("cbo_enhanced.png"));
  written += Save(frames, dir, QStringLiteral("frame_enhanced.png"));
  tabs->setCurrentWidget(pattern);
  pattern->SetView(BitPattern::kViewGraphical);
  pattern->Graph()->SetScale(8);
  pattern->Graph()->ScrollToAddress(1);
  QApplication::processEvents();
  written += Save(pattern, dir, QStringLiteral("bit_pattern_graphical.png"));
  pattern->Graph()->FitAll();
  QApplication::processEvents();
  written += Save(pattern->Graph(), dir, QStringLiteral("bit_pattern_overview.png"));
  pattern->SetView(BitPattern::kViewNumerical);
  pattern->Table()->scrollTo(pattern->Table()->model()->index(28, 0), QAbstractItemView::PositionAtTop);
  QApplication::processEvents();
  written += Save(pattern, dir, QStringLiteral("bit_pattern_numerical.png"));
  tabs->setCurrentIndex(0);
  QApplication::processEvents();
  written += Save(&window, dir, QStringLiteral("pgxcontrols.png"));
  std::printf("pgxcontrols: wrote %d images to %s\n", written, qUtf8Printable(dir.path()));
  return written == 7 ? 0 : 1;
}
