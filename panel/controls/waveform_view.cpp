#include "panel/controls/waveform_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace pgx::panel {

namespace {

const char* const kChannelNames[kPatternChannelCount] = {"Ch 1", "Ch 2", "Strobe"};
const QColor kChannelColors[kPatternChannelCount] = {QColor(0, 70, 160), QColor(0, 120, 60),
                                                     QColor(150, 40, 30)};

inline bool BitAt(const std::vector<std::uint8_t>& bytes, int pos) {
  return (bytes[static_cast<size_t>(pos >> 3)] >> (7 - (pos & 7))) & 1;
}

// Whether positions first ... last hold a 1 and whether they hold a 0; whole bytes at once.
void Scan(const std::vector<std::uint8_t>& bytes, int first, int last, bool& any1, bool& any0) {
  any1 = any0 = false;
  int pos = first;
  while (pos <= last && (pos & 7) != 0) (BitAt(bytes, pos++) ? any1 : any0) = true;
  while (pos + 7 <= last && !(any1 && any0)) {
    const std::uint8_t b = bytes[static_cast<size_t>(pos >> 3)];
    if (b != 0) any1 = true;
    if (b != 0xFF) any0 = true;
    pos += 8;
  }
  while (pos <= last && !(any1 && any0)) (BitAt(bytes, pos++) ? any1 : any0) = true;
}

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QAbstractScrollArea(parent) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(kRulerHeight + 3 * 28 + horizontalScrollBar()->sizeHint().height());
}

void WaveformView::SetModel(const BitPatternModel* model) {
  model_ = model;
  fitted_ = true;
  Refresh();
}

void WaveformView::Refresh() {
  if (fitted_) scale_ = MinScale();
  scale_ = std::clamp(scale_, MinScale(), std::max(MinScale(), kMaxScale));
  UpdateScrollBar();
  viewport()->update();
}

int WaveformView::PlotWidth() const {
  return std::max(1, viewport()->width() - kLabelWidth);
}

double WaveformView::MinScale() const {
  const int length = model_ ? model_->Length() : 1;
  return static_cast<double>(PlotWidth()) / length;
}

int WaveformView::RowHeight() const {
  return std::max(20, (viewport()->height() - kRulerHeight) / 3);
}

void WaveformView::UpdateScrollBar() {
  const int length = model_ ? model_->Length() : 1;
  const double content = length * scale_;
  QScrollBar* bar = horizontalScrollBar();
  bar->setRange(0, std::max(0, static_cast<int>(std::ceil(content)) - PlotWidth()));
  bar->setPageStep(PlotWidth());
  bar->setSingleStep(std::max(1, static_cast<int>(scale_ * 8)));
}

void WaveformView::SetScale(double scale, int anchor_x) {
  if (anchor_x < 0) anchor_x = kLabelWidth + PlotWidth() / 2;
  const double scroll = horizontalScrollBar()->value();
  const double anchor_pos = (scroll + anchor_x - kLabelWidth) / scale_;  // in positions
  const double min_scale = MinScale();
  scale_ = std::clamp(scale, min_scale, std::max(min_scale, kMaxScale));
  fitted_ = scale_ <= min_scale;
  UpdateScrollBar();
  horizontalScrollBar()->setValue(
      static_cast<int>(std::lround(anchor_pos * scale_ - (anchor_x - kLabelWidth))));
  viewport()->update();
}

void WaveformView::FitAll() {
  fitted_ = true;
  Refresh();
}

void WaveformView::ScrollToAddress(int address) {
  horizontalScrollBar()->setValue(static_cast<int>(std::lround((address - 1) * scale_)));
}

int WaveformView::FirstVisibleAddress() const {
  return static_cast<int>(std::floor(horizontalScrollBar()->value() / scale_)) + 1;
}

int WaveformView::LastVisibleAddress() const {
  const int length = model_ ? model_->Length() : 1;
  const double right = horizontalScrollBar()->value() + PlotWidth();
  return std::min(length, static_cast<int>(std::ceil(right / scale_)));
}

int WaveformView::AddressAt(int x) const {
  if (!model_ || x < kLabelWidth) return 0;
  const int address =
      static_cast<int>(std::floor((horizontalScrollBar()->value() + x - kLabelWidth) / scale_)) + 1;
  return std::clamp(address, 1, model_->Length());
}

std::optional<PatternChannel> WaveformView::ChannelAt(int y) const {
  if (y < kRulerHeight) return std::nullopt;
  const int row = (y - kRulerHeight) / RowHeight();
  if (row >= kPatternChannelCount) return std::nullopt;
  return static_cast<PatternChannel>(row);
}

int WaveformView::XOfAddress(int address) const {
  return kLabelWidth + static_cast<int>(std::lround((address - 1) * scale_ - horizontalScrollBar()->value()));
}

int WaveformView::YOfChannel(PatternChannel channel) const {
  return kRulerHeight + static_cast<int>(channel) * RowHeight() + RowHeight() / 2;
}

void WaveformView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Refresh();
}

void WaveformView::scrollContentsBy(int, int) {
  viewport()->update();
}

void WaveformView::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  const QRect area = viewport()->rect();
  p.fillRect(area, QColor(252, 252, 250));
  if (!model_) return;
  const double scroll = horizontalScrollBar()->value();
  const int first = std::max(0, static_cast<int>(std::floor(scroll / scale_)));
  const int last =
      std::min(model_->Length() - 1, static_cast<int>(std::ceil((scroll + PlotWidth()) / scale_)));
  painted_positions_ = std::max(0, last - first + 1);

  // The selected range behind everything.
  const double sel_x0 = kLabelWidth + (model_->StartAddress() - 1) * scale_ - scroll;
  const double sel_x1 = kLabelWidth + model_->LastAddress() * scale_ - scroll;
  p.save();
  p.setClipRect(QRect(kLabelWidth, 0, PlotWidth(), area.height()));
  p.fillRect(QRectF(sel_x0, kRulerHeight, std::max(1.0, sel_x1 - sel_x0), area.height() - kRulerHeight),
             QColor(255, 236, 160));
  PaintRuler(p, first, last, scroll);
  for (int ch = 0; ch < kPatternChannelCount; ++ch) PaintChannel(p, ch, first, last, scroll);
  p.restore();

  // Channel names.
  p.fillRect(QRect(0, 0, kLabelWidth, area.height()), QColor(236, 236, 232));
  p.setPen(QColor(160, 160, 155));
  p.drawLine(kLabelWidth - 1, 0, kLabelWidth - 1, area.height());
  for (int ch = 0; ch < kPatternChannelCount; ++ch) {
    const int top = kRulerHeight + ch * RowHeight();
    const bool off = ch == 1 && !model_->Channel2Exists();
    p.setPen(off ? QColor(160, 160, 160) : kChannelColors[ch]);
    QString name = QString::fromLatin1(kChannelNames[ch]);
    if (model_->Rz(static_cast<PatternChannel>(ch))) name += QStringLiteral("\nRZ");
    p.drawText(QRect(4, top, kLabelWidth - 8, RowHeight()), Qt::AlignVCenter | Qt::AlignLeft, name);
  }
}

void WaveformView::PaintRuler(QPainter& p, int first, int last, double scroll) {
  p.fillRect(QRect(kLabelWidth, 0, PlotWidth(), kRulerHeight), QColor(236, 236, 232));
  p.setPen(QColor(120, 120, 115));
  // A tick every 1, 2 or 5 times a power of ten addresses, at least 70 pixels apart.
  int step = 1;
  for (int decade = 1;; decade *= 10) {
    if (decade * scale_ >= 70) {
      step = decade;
      break;
    }
    if (2 * decade * scale_ >= 70) {
      step = 2 * decade;
      break;
    }
    if (5 * decade * scale_ >= 70) {
      step = 5 * decade;
      break;
    }
  }
  const int first_address = first + 1;
  for (int address = std::max(step, (first_address + step - 1) / step * step); address <= last + 1;
       address += step) {
    const double x = kLabelWidth + (address - 1) * scale_ - scroll;
    p.drawLine(QPointF(x, kRulerHeight - 6), QPointF(x, kRulerHeight));
    const QString label = QString::number(address);
    if (x + 3 + p.fontMetrics().horizontalAdvance(label) <= kLabelWidth + PlotWidth()) {
      p.drawText(QPointF(x + 3, kRulerHeight - 6), label);
    }
  }
  p.drawLine(kLabelWidth, kRulerHeight - 1, kLabelWidth + PlotWidth(), kRulerHeight - 1);
}

void WaveformView::PaintChannel(QPainter& p, int ch, int first, int last, double scroll) {
  const std::vector<std::uint8_t>& bytes = model_->Bytes(static_cast<PatternChannel>(ch));
  const int top = kRulerHeight + ch * RowHeight();
  const double high = top + 6;
  const double low = top + RowHeight() - 6;
  const bool off = ch == 1 && !model_->Channel2Exists();
  const bool rz = model_->Rz(static_cast<PatternChannel>(ch)) && scale_ >= kMinRzScale;
  p.setPen(QColor(225, 225, 220));
  p.drawLine(QPointF(kLabelWidth, top + RowHeight() - 0.5),
             QPointF(kLabelWidth + PlotWidth(), top + RowHeight() - 0.5));
  if (first > last) return;
  QPen pen(off ? QColor(170, 170, 170) : kChannelColors[ch]);
  pen.setWidthF(1.5);
  p.setPen(pen);
  std::vector<QLineF> lines;
  const auto x_of = [&](double pos) { return kLabelWidth + pos * scale_ - scroll; };

  if (scale_ >= 1) {
    // One segment per run of equal positions, an edge between runs; RZ ones are half-position pulses.
    int run_start = first;
    bool level = BitAt(bytes, first);
    for (int pos = first; pos <= last + 1; ++pos) {
      const bool end = pos > last;
      const bool b = end ? !level : BitAt(bytes, pos);
      if (rz && !end && b) {
        if (pos > run_start)
          lines.emplace_back(x_of(run_start), level ? high : low, x_of(pos), level ? high : low);
        const double x0 = x_of(pos);
        const double xm = x_of(pos + 0.5);
        lines.emplace_back(x0, low, x0, high);
        lines.emplace_back(x0, high, xm, high);
        lines.emplace_back(xm, high, xm, low);
        lines.emplace_back(xm, low, x_of(pos + 1), low);
        run_start = pos + 1;
        level = false;
        continue;
      }
      if (b != level || end) {
        if (pos > run_start)
          lines.emplace_back(x_of(run_start), level ? high : low, x_of(pos), level ? high : low);
        if (!end && pos > first) lines.emplace_back(x_of(pos), low, x_of(pos), high);
        run_start = pos;
        level = b;
      }
    }
  } else {
    // Several positions per pixel column.
    const int width = PlotWidth();
    int run_x = 0;
    int run_level = -1;  // 0 low, 1 high, 2 both
    for (int x = 0; x <= width; ++x) {
      int level = -2;
      if (x < width) {
        const int p0 = static_cast<int>((scroll + x) / scale_);
        const int p1 = std::min(last, static_cast<int>((scroll + x + 1) / scale_) - 1);
        if (p0 <= last) {
          bool any1, any0;
          Scan(bytes, p0, std::max(p0, p1), any1, any0);
          level = any1 && any0 ? 2 : (any1 ? 1 : 0);
        }
      }
      if (level == 2) lines.emplace_back(kLabelWidth + x + 0.5, low, kLabelWidth + x + 0.5, high);
      if (level != run_level) {
        if (run_level == 0 || run_level == 1) {
          const double y = run_level ? high : low;
          lines.emplace_back(kLabelWidth + run_x, y, kLabelWidth + x, y);
          if (level == 0 || level == 1) lines.emplace_back(kLabelWidth + x, low, kLabelWidth + x, high);
        }
        run_x = x;
        run_level = level;
      }
      if (level == -2) break;
    }
  }
  p.drawLines(lines.data(), static_cast<int>(lines.size()));
}

void WaveformView::wheelEvent(QWheelEvent* event) {
  const int delta = event->angleDelta().y() != 0 ? event->angleDelta().y() : event->angleDelta().x();
  if (event->modifiers() & Qt::ControlModifier) {
    SetScale(scale_ * std::pow(2.0, delta / 240.0), static_cast<int>(event->position().x()));
  } else {
    QScrollBar* bar = horizontalScrollBar();
    bar->setValue(bar->value() - delta * PlotWidth() / 1200);
  }
  event->accept();
}

void WaveformView::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = horizontalScrollBar();
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomIn();
      break;
    case Qt::Key_Minus:
      ZoomOut();
      break;
    case Qt::Key_Home:
      bar->setValue(0);
      break;
    case Qt::Key_End:
      bar->setValue(bar->maximum());
      break;
    case Qt::Key_Left:
      bar->setValue(bar->value() - bar->singleStep());
      break;
    case Qt::Key_Right:
      bar->setValue(bar->value() + bar->singleStep());
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
  const int address = AddressAt(static_cast<int>(event->position().x()));
  if (event->button() != Qt::LeftButton || address == 0) return;
  if ((event->modifiers() & Qt::ShiftModifier) && model_) {
    emit RangeSelected(model_->StartAddress(), address);
    return;
  }
  drag_anchor_ = address;
  emit RangeSelected(address, address);
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton) || drag_anchor_ == 0) return;
  emit RangeSelected(drag_anchor_, AddressAt(std::max(kLabelWidth, static_cast<int>(event->position().x()))));
}

void WaveformView::mouseReleaseEvent(QMouseEvent*) {
  drag_anchor_ = 0;
}

void WaveformView::mouseDoubleClickEvent(QMouseEvent* event) {
  const int address = AddressAt(static_cast<int>(event->position().x()));
  const std::optional<PatternChannel> channel = ChannelAt(static_cast<int>(event->position().y()));
  if (address != 0 && channel) emit BitToggleRequested(*channel, address);
}

}  // namespace pgx::panel
