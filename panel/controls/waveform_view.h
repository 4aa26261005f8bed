// WaveformView: the graphical view of the pattern editor. One digital waveform per channel (channel 1,
// channel 2, strobe) over an address ruler; return-to-zero channels draw each 1 as a pulse of half a
// position once there is room (kMinRzScale). Only the visible addresses are painted: zoomed out below a pixel
// per position, each pixel column shows whether its positions are all 0, all 1 or both. The wheel scrolls
// (Ctrl+wheel zooms about the pointer), + and - zoom, Home and End go to the ends; a drag selects the
// address range the operations apply to; a double click asks to toggle the bit under the pointer.
#pragma once

#include <QAbstractScrollArea>

#include "panel/controls/bit_pattern_model.h"

namespace pgx::panel {

class WaveformView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  static constexpr int kLabelWidth = 56;
  static constexpr int kRulerHeight = 20;
  static constexpr double kMaxScale = 64;
  // Return-to-zero pulses are drawn from this many pixels per position on; closer, they would run together.
  static constexpr double kMinRzScale = 8;

  explicit WaveformView(QWidget* parent = nullptr);

  void SetModel(const BitPatternModel* model);
  // The data or the range changed.
  void Refresh();

  // Pixels per position.
  double Scale() const { return scale_; }
  // Zooms keeping the position under viewport x `anchor_x` (-1: the middle) where it is.
  void SetScale(double scale, int anchor_x = -1);
  void ZoomIn() { SetScale(scale_ * 2); }
  void ZoomOut() { SetScale(scale_ / 2); }
  // The whole pattern in the view.
  void FitAll();
  // Scrolls so that `address` is at the left edge.
  void ScrollToAddress(int address);
  // The addresses (1-based) the view shows now, and how many positions the last paint looked at.
  int FirstVisibleAddress() const;
  int LastVisibleAddress() const;
  int PaintedPositions() const { return painted_positions_; }

  // The address and the channel at a viewport point; 0 and no channel outside the plot.
  int AddressAt(int x) const;
  std::optional<PatternChannel> ChannelAt(int y) const;
  // The viewport x of the left edge of address `address`.
  int XOfAddress(int address) const;
  int YOfChannel(PatternChannel channel) const;

 signals:
  void RangeSelected(int start, int last);
  void BitToggleRequested(PatternChannel channel, int address);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  int PlotWidth() const;
  double MinScale() const;
  int RowHeight() const;
  void UpdateScrollBar();
  void PaintRuler(QPainter& p, int first, int last, double scroll);
  void PaintChannel(QPainter& p, int ch, int first, int last, double scroll);

  const BitPatternModel* model_ = nullptr;
  double scale_ = 1;
  bool fitted_ = true;
  int painted_positions_ = 0;
  int drag_anchor_ = 0;
};

}  // namespace pgx::panel
