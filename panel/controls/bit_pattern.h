// BitPattern: the pattern editor. Channel 1, channel 2 and strobe bits over a common length, shown as a
// table of 0s and 1s ("Numerical") or as waveforms ("Graphical"); the address range (Start ... Last) that
// the edit operations apply to is typed in, dragged in the waveforms or selected in the table. The
// operations work on the channel chosen in the channel list; each can be undone ("Undo", the last one).
// Told that channel 2 does not exist, the editor refuses its edits with "Channel 2 Disabled!". "Clock / n"
// and "PRBS 2^n - 1" ask for n; the PRBS is computed by the function the owner supplies (the adapter's
// CalcPRBS).
#pragma once

#include <QWidget>
#include <cstdint>
#include <vector>

#include "panel/controls/bit_pattern_model.h"

class QAbstractButton;
class QCheckBox;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace pgx::panel {

class CboEnhanced;
class EngrSpin;
class FrameEnhanced;
class PatternTableModel;
class WaveformView;

class BitPattern : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int PatternLength READ PatternLength WRITE SetPatternLength)
  Q_PROPERTY(int StartAddress READ StartAddress WRITE SetStartAddress)
  Q_PROPERTY(int LastAddress READ LastAddress WRITE SetLastAddress)
  Q_PROPERTY(bool Channel2Exists READ Channel2Exists WRITE SetChannel2Exists)
  Q_PROPERTY(int View READ View WRITE SetView)

 public:
  enum ViewKind { kViewNumerical = 0, kViewGraphical = 1 };

  explicit BitPattern(QWidget* parent = nullptr);
  ~BitPattern() override;

  int PatternLength() const { return model_.Length(); }
  void SetPatternLength(int length);
  int StartAddress() const { return model_.StartAddress(); }
  void SetStartAddress(int address);
  int LastAddress() const { return model_.LastAddress(); }
  void SetLastAddress(int address);
  bool Channel2Exists() const { return model_.Channel2Exists(); }
  void SetChannel2Exists(bool exists);
  int View() const;
  void SetView(int view);

  // The channel the operations apply to.
  PatternChannel CurrentChannel() const;
  void SetCurrentChannel(PatternChannel channel);

  // A channel's bits packed eight to a byte, first position in the most significant bit (the adapter's
  // pattern array). Setting them is a download, not an edit.
  const std::vector<std::uint8_t>& PatternBytes(PatternChannel channel) const {
    return model_.Bytes(channel);
  }
  void SetPatternBytes(PatternChannel channel, const std::vector<std::uint8_t>& bytes);
  // Return-to-zero of output channel 1 or 2 (the adapter's fRz(i)).
  bool Rz(int channel) const;
  void SetRz(int channel, bool rz);

  void SetCalcPrbs(BitPatternModel::CalcPrbs calc_prbs);
  // Runs an operation on the current channel as its button does: asks for n where it needs one, shows
  // what refuses it. True when the pattern changed.
  bool RunOperation(PatternOp op);
  bool Undo();

  const BitPatternModel& Model() const { return model_; }
  WaveformView* Graph() const { return graph_; }
  QTableView* Table() const { return table_; }
  QAbstractButton* OperationButton(PatternOp op) const;
  QAbstractButton* UndoButton() const;
  CboEnhanced* ChannelList() const { return channel_list_; }
  EngrSpin* StartField() const { return start_field_; }
  EngrSpin* LastField() const { return last_field_; }
  EngrSpin* LengthField() const { return length_field_; }
  QCheckBox* RzBox(int channel) const;
  FrameEnhanced* ViewFrame() const { return view_frame_; }

  // The operations' captions, as the buttons show them.
  static QString Caption(PatternOp op);

 signals:
  // The user changed the bits (an operation, an undo, an edit in a view).
  void PatternEdited();
  // The user changed the return-to-zero flag of channel 1 or 2.
  void RzEdited(int channel);

 private:
  void EditBit(PatternChannel channel, int address, bool value);
  bool Report(BitPatternModel::Result result);
  std::optional<int> AskN(PatternOp op);
  void RangeFromFields();
  void SetRange(int start, int last);
  void Refresh();

  BitPatternModel model_;
  BitPatternModel::CalcPrbs calc_prbs_;
  FrameEnhanced* view_frame_;
  CboEnhanced* channel_list_;
  EngrSpin* start_field_;
  EngrSpin* last_field_;
  EngrSpin* length_field_;
  QCheckBox* rz_boxes_[2];
  QStackedWidget* stack_;
  QTableView* table_;
  PatternTableModel* table_model_;
  WaveformView* graph_;
  std::vector<QPushButton*> op_buttons_;
  QPushButton* undo_button_;
  bool updating_ = false;
};

}  // namespace pgx::panel
