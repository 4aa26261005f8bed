#include "panel/controls/bit_pattern.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include "panel/controls/cbo_enhanced.h"
#include "panel/controls/engr_spin.h"
#include "panel/controls/testing/recording_ui_services.h"
#include "panel/controls/testing/reference_prbs.h"
#include "panel/controls/waveform_view.h"

namespace pgx::panel {
namespace {

using Bytes = std::vector<std::uint8_t>;

class BitPatternTest : public ::testing::Test {
 protected:
  void SetUp() override {
    editor_.resize(900, 420);
    editor_.SetPatternLength(20);
    editor_.show();
    editor_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor_));
  }
  void Click(PatternOp op) { QTest::mouseClick(editor_.OperationButton(op), Qt::LeftButton); }
  void TypeInto(EngrSpin* field, const QString& text) {
    field->TextBox()->setFocus();
    field->TextBox()->selectAll();
    QTest::keyClicks(field->TextBox(), text);
    QTest::keyClick(field->TextBox(), Qt::Key_Return);
  }

  testing::RecordingUiServices ui_;
  ScopedUiServices scope_{ui_};
  BitPattern editor_;
};

TEST_F(BitPatternTest, ButtonsWorkOnTheTypedRangeOfTheChosenChannel) {
  QSignalSpy edited(&editor_, &BitPattern::PatternEdited);
  editor_.SetCurrentChannel(PatternChannel::kStrobe);
  TypeInto(editor_.StartField(), "3");
  TypeInto(editor_.LastField(), "12");
  ASSERT_EQ(editor_.StartAddress(), 3);
  ASSERT_EQ(editor_.LastAddress(), 12);
  Click(PatternOp::kFill1);
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kStrobe), (Bytes{0x3F, 0xF0, 0x00}));
  Click(PatternOp::kInvert);
  Click(PatternOp::kSetLastBitOnly);
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kStrobe), (Bytes{0x00, 0x10, 0x00}));
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel1), (Bytes{0, 0, 0}));
  EXPECT_EQ(edited.count(), 3);

  // Undo takes back the last operation once.
  ASSERT_TRUE(editor_.UndoButton()->isEnabled());
  QTest::mouseClick(editor_.UndoButton(), Qt::LeftButton);
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kStrobe), (Bytes{0x00, 0x00, 0x00}));
  EXPECT_FALSE(editor_.UndoButton()->isEnabled());
  EXPECT_EQ(edited.count(), 4);

  // Ctrl+Z in the editor does the same.
  Click(PatternOp::kFill1);
  editor_.Graph()->setFocus();
  QTest::keySequence(editor_.Graph(), QKeySequence::Undo);
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kStrobe), (Bytes{0x00, 0x00, 0x00}));
}

TEST_F(BitPatternTest, ChannelTwoIsRefusedWhenItDoesNotExist) {
  editor_.SetPatternBytes(PatternChannel::kChannel2, {0xA5, 0x5A, 0xF0});
  editor_.SetChannel2Exists(false);
  EXPECT_FALSE(editor_.RzBox(2)->isEnabled());
  QSignalSpy edited(&editor_, &BitPattern::PatternEdited);
  editor_.SetCurrentChannel(PatternChannel::kChannel2);
  ui_.AnswerNextInput("2");
  Click(PatternOp::kFill0);
  Click(PatternOp::kClockDivN);
  EXPECT_TRUE(ui_.inputs.empty());  // refused before asking for n
  // A double click on channel 2's waveform is refused too.
  WaveformView* graph = editor_.Graph();
  QTest::mouseDClick(graph->viewport(), Qt::LeftButton, {},
                     QPoint(graph->XOfAddress(5) + 2, graph->YOfChannel(PatternChannel::kChannel2)));
  ASSERT_EQ(ui_.messages.size(), 3u);
  for (const auto& m : ui_.messages) {
    EXPECT_EQ(m.text, "Channel 2 Disabled!");
    EXPECT_EQ(m.icon, MsgIcon::kExclamation);
  }
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel2), (Bytes{0xA5, 0x5A, 0xF0}));
  EXPECT_EQ(edited.count(), 0);

  editor_.SetChannel2Exists(true);
  Click(PatternOp::kFill0);
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel2), (Bytes{0, 0, 0}));
}

TEST_F(BitPatternTest, ClockAndPrbsAskForN) {
  editor_.SetCurrentChannel(PatternChannel::kChannel1);
  ui_.AnswerNextInput("3");
  Click(PatternOp::kClockDivN);
  ASSERT_EQ(ui_.inputs.size(), 1u);
  EXPECT_EQ(ui_.inputs[0].caption, "Clock / n");
  EXPECT_EQ(ui_.inputs[0].prompt, "Divide the clock by n (1 to 20):");
  // 110 110 110 ... over the 20 positions.
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel1), (Bytes{0xDB, 0x6D, 0xB0}));

  ui_.AnswerNextInput(std::nullopt);  // Cancel
  ui_.AnswerNextInput("0");
  ui_.AnswerNextInput("many");
  Click(PatternOp::kClockDivN);
  Click(PatternOp::kClockDivN);
  Click(PatternOp::kClockDivN);
  EXPECT_EQ(ui_.Texts(),
            (QStringList{"n must be a whole number from 1 to 20", "n must be a whole number from 1 to 20"}));
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel1), (Bytes{0xDB, 0x6D, 0xB0}));

  // Without a generator the PRBS cannot be chosen; with one it fills the range.
  EXPECT_FALSE(editor_.OperationButton(PatternOp::kPrbs)->isEnabled());
  editor_.SetCalcPrbs(testing::ReferencePrbs);
  ASSERT_TRUE(editor_.OperationButton(PatternOp::kPrbs)->isEnabled());
  editor_.SetStartAddress(1);
  editor_.SetLastAddress(7);
  ui_.AnswerNextInput("7");
  Click(PatternOp::kPrbs);
  EXPECT_EQ(ui_.inputs.back().caption, "PRBS 2^n - 1");
  // The preload sets positions 1 ... 7; position 8 keeps the clock's 1.
  EXPECT_EQ(editor_.PatternBytes(PatternChannel::kChannel1), (Bytes{0xFF, 0x6D, 0xB0}));
  ui_.AnswerNextInput("15");
  Click(PatternOp::kPrbs);
  EXPECT_EQ(ui_.Texts().back(), "n must be a whole number from 7 to 14");
}

TEST_F(BitPatternTest, DraggingInTheWaveformsSelectsAndADoubleClickToggles) {
  editor_.SetView(BitPattern::kViewGraphical);
  WaveformView* graph = editor_.Graph();
  const int y = graph->YOfChannel(PatternChannel::kChannel1);
  QTest::mousePress(graph->viewport(), Qt::LeftButton, {}, QPoint(graph->XOfAddress(4) + 2, y));
  QTest::mouseMove(graph->viewport(), QPoint(graph->XOfAddress(9) + 2, y));
  QTest::mouseRelease(graph->viewport(), Qt::LeftButton, {}, QPoint(graph->XOfAddress(9) + 2, y));
  EXPECT_EQ(editor_.StartAddress(), 4);
  EXPECT_EQ(editor_.LastAddress(), 9);
  EXPECT_EQ(editor_.StartField()->Value(), 4);
  EXPECT_EQ(editor_.LastField()->Value(), 9);

  QTest::mouseDClick(graph->viewport(), Qt::LeftButton, {},
                     QPoint(graph->XOfAddress(20) + 2, graph->YOfChannel(PatternChannel::kStrobe)));
  EXPECT_TRUE(editor_.Model().Bit(PatternChannel::kStrobe, 20));
  EXPECT_FALSE(editor_.Model().Bit(PatternChannel::kChannel1, 20));
}

TEST_F(BitPatternTest, TheNumericalViewEditsAndSelectsToo) {
  editor_.SetView(BitPattern::kViewNumerical);
  ASSERT_EQ(editor_.View(), BitPattern::kViewNumerical);
  QTableView* table = editor_.Table();
  ASSERT_EQ(table->model()->rowCount(), 20);
  EXPECT_TRUE(table->model()->setData(table->model()->index(10, 0), "1"));
  EXPECT_TRUE(editor_.Model().Bit(PatternChannel::kChannel1, 11));
  EXPECT_EQ(table->model()->data(table->model()->index(10, 0)).toString(), "1");
  table->selectRow(5);
  table->selectionModel()->select(table->model()->index(7, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
  EXPECT_EQ(editor_.StartAddress(), 6);
  EXPECT_EQ(editor_.LastAddress(), 8);
}

TEST_F(BitPatternTest, ReturnToZeroFlagsPerChannel) {
  QSignalSpy rz(&editor_, &BitPattern::RzEdited);
  QTest::mouseClick(editor_.RzBox(2), Qt::LeftButton);
  EXPECT_TRUE(editor_.Rz(2));
  EXPECT_FALSE(editor_.Rz(1));
  ASSERT_EQ(rz.count(), 1);
  EXPECT_EQ(rz.at(0).at(0).toInt(), 2);
  editor_.SetRz(1, true);  // a download: no signal
  EXPECT_TRUE(editor_.RzBox(1)->isChecked());
  EXPECT_EQ(rz.count(), 1);
}

TEST_F(BitPatternTest, TheWaveformsPaintOnlyWhatIsVisibleAndZoomAboutThePointer) {
  editor_.SetPatternLength(BitPatternModel::kMaxLength);
  editor_.SetView(BitPattern::kViewGraphical);
  WaveformView* graph = editor_.Graph();
  graph->FitAll();
  graph->viewport()->repaint();
  EXPECT_EQ(graph->FirstVisibleAddress(), 1);
  EXPECT_EQ(graph->LastVisibleAddress(), BitPatternModel::kMaxLength);

  graph->SetScale(16);
  graph->ScrollToAddress(8001);
  graph->viewport()->repaint();
  const int width = graph->viewport()->width() - WaveformView::kLabelWidth;
  EXPECT_EQ(graph->FirstVisibleAddress(), 8001);
  EXPECT_LE(graph->PaintedPositions(), width / 16 + 2);

  // Ctrl+wheel zooms and keeps the address under the pointer where it was.
  const int x = WaveformView::kLabelWidth + 200;
  const int address = graph->AddressAt(x);
  QWheelEvent wheel(QPointF(x, 60), graph->viewport()->mapToGlobal(QPointF(x, 60)), QPoint(), QPoint(0, 240),
                    Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(graph->viewport(), &wheel);
  EXPECT_EQ(graph->Scale(), 32);
  EXPECT_NEAR(graph->AddressAt(x), address, 1);

  // The end of the pattern is reachable and nothing beyond it is painted.
  QTest::keyClick(graph, Qt::Key_End);
  graph->viewport()->repaint();
  EXPECT_EQ(graph->LastVisibleAddress(), BitPatternModel::kMaxLength);
  QTest::keyClick(graph, Qt::Key_Home);
  EXPECT_EQ(graph->FirstVisibleAddress(), 1);
}

}  // namespace
}  // namespace pgx::panel
