#include "panel/controls/bit_pattern.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <cmath>

#include "panel/controls/cbo_enhanced.h"
#include "panel/controls/engr_spin.h"
#include "panel/controls/frame_enhanced.h"
#include "panel/controls/pattern_table_model.h"
#include "panel/controls/ui_services.h"
#include "panel/controls/utils.h"
#include "panel/controls/waveform_view.h"

namespace pgx::panel {

namespace {

constexpr PatternOp kOps[] = {PatternOp::kFill0,           PatternOp::kFill1,          PatternOp::kInvert,
                              PatternOp::kSetFirstBitOnly, PatternOp::kSetLastBitOnly, PatternOp::kInsertBit,
                              PatternOp::kDeleteBit,       PatternOp::kClockDivN,      PatternOp::kPrbs};

// An address field: whole numbers, no prefix, no units.
EngrSpin* AddressField(const QString& caption, QWidget* parent) {
  auto* field = new EngrSpin(parent);
  field->SetCaption(caption);
  field->SetUnitsVisible(false);
  field->SetMinExponent(0);
  field->SetMaxExponent(0);
  field->SetNumberFormat(QStringLiteral("0"));
  field->SetTextBoxWidth(64);
  field->SetDataParameters(1, BitPatternModel::kMaxLength, 1, 1);
  return field;
}

int Whole(double v) {
  return static_cast<int>(std::lround(v));
}

}  // namespace

QString BitPattern::Caption(PatternOp op) {
  switch (op) {
    case PatternOp::kFill0:
      return QStringLiteral("Fill 0");
    case PatternOp::kFill1:
      return QStringLiteral("Fill1");
    case PatternOp::kInvert:
      return QStringLiteral("Invert");
    case PatternOp::kSetFirstBitOnly:
      return QStringLiteral("Set First Bit Only");
    case PatternOp::kSetLastBitOnly:
      return QStringLiteral("Set Last Bit Only");
    case PatternOp::kInsertBit:
      return QStringLiteral("Insert Bit");
    case PatternOp::kDeleteBit:
      return QStringLiteral("Delete Bit");
    case PatternOp::kClockDivN:
      return QStringLiteral("Clock / n");
    case PatternOp::kPrbs:
      return QStringLiteral("PRBS 2^n - 1");
  }
  return {};
}

BitPattern::BitPattern(QWidget* parent)
    : QWidget(parent),
      view_frame_(new FrameEnhanced(QStringLiteral("View"), this)),
      channel_list_(new CboEnhanced(this)),
      start_field_(AddressField(QStringLiteral("Start"), this)),
      last_field_(AddressField(QStringLiteral("Last"), this)),
      length_field_(AddressField(QStringLiteral("Length"), this)),
      rz_boxes_{new QCheckBox(QStringLiteral("RZ Ch 1"), this),
                new QCheckBox(QStringLiteral("RZ Ch 2"), this)},
      stack_(new QStackedWidget(this)),
      table_(new QTableView(this)),
      table_model_(new PatternTableModel(
          model_, [this](PatternChannel ch, int address, bool value) { EditBit(ch, address, value); }, this)),
      graph_(new WaveformView(this)),
      undo_button_(new QPushButton(QStringLiteral("Undo"), this)) {
  // View and channel.
  new QHBoxLayout(view_frame_);
  view_frame_->AddOption(QStringLiteral("Numerical"), QStringLiteral("Numerical"));
  view_frame_->AddOption(QStringLiteral("Graphical"), QStringLiteral("Graphical"));
  channel_list_->AddItemData(1, QStringLiteral("Channel 1"));
  channel_list_->AddItemData(2, QStringLiteral("Channel 2"));
  channel_list_->AddItemData(3, QStringLiteral("Strobe"));

  auto* top = new QHBoxLayout;
  top->addWidget(view_frame_);
  top->addWidget(channel_list_);
  top->addWidget(rz_boxes_[0]);
  top->addWidget(rz_boxes_[1]);
  top->addStretch(1);

  auto* range = new QHBoxLayout;
  range->addWidget(start_field_);
  range->addWidget(last_field_);
  range->addWidget(length_field_);
  range->addStretch(1);
  for (const auto& [text, action] :
       {std::pair<QString, void (WaveformView::*)()>{"Zoom In", &WaveformView::ZoomIn},
        {"Zoom Out", &WaveformView::ZoomOut},
        {"Fit", &WaveformView::FitAll}}) {
    auto* button = new QPushButton(text, this);
    button->setFocusPolicy(Qt::TabFocus);
    connect(button, &QPushButton::clicked, graph_, action);
    range->addWidget(button);
  }

  // The views.
  table_->setModel(table_model_);
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
  graph_->SetModel(&model_);
  stack_->addWidget(table_);
  stack_->addWidget(graph_);

  // The operations.
  auto* ops = new QVBoxLayout;
  for (PatternOp op : kOps) {
    auto* button = new QPushButton(Caption(op), this);
    connect(button, &QPushButton::clicked, this, [this, op] { RunOperation(op); });
    op_buttons_.push_back(button);
    ops->addWidget(button);
  }
  ops->addSpacing(8);
  ops->addWidget(undo_button_);
  ops->addStretch(1);
  connect(undo_button_, &QPushButton::clicked, this, &BitPattern::Undo);
  undo_button_->setToolTip(QStringLiteral("Take back the last edit (%1)")
                               .arg(QKeySequence(QKeySequence::Undo).toString(QKeySequence::NativeText)));
  auto* undo_key = new QShortcut(QKeySequence::Undo, this);
  undo_key->setContext(Qt::WidgetWithChildrenShortcut);
  connect(undo_key, &QShortcut::activated, this, &BitPattern::Undo);

  auto* body = new QHBoxLayout;
  body->addWidget(stack_, 1);
  body->addLayout(ops);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(range);
  layout->addLayout(body, 1);

  connect(view_frame_, &FrameEnhanced::ValueChanged, this,
          [this](const QString& tag) { stack_->setCurrentIndex(tag == QLatin1String("Graphical") ? 1 : 0); });
  connect(start_field_, &EngrSpin::AfterUpdate, this, &BitPattern::RangeFromFields);
  connect(last_field_, &EngrSpin::AfterUpdate, this, &BitPattern::RangeFromFields);
  connect(length_field_, &EngrSpin::AfterUpdate, this, [this] {
    SetPatternLength(Whole(length_field_->Value()));
    emit PatternEdited();
  });
  for (int ch = 0; ch < 2; ++ch) {
    connect(rz_boxes_[ch], &QCheckBox::clicked, this, [this, ch](bool checked) {
      model_.SetRz(static_cast<PatternChannel>(ch), checked);
      graph_->Refresh();
      emit RzEdited(ch + 1);
    });
  }
  connect(graph_, &WaveformView::RangeSelected, this, &BitPattern::SetRange);
  connect(graph_, &WaveformView::BitToggleRequested, this,
          [this](PatternChannel ch, int address) { EditBit(ch, address, !model_.Bit(ch, address)); });
  connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (updating_) return;
    const QModelIndexList rows = table_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    int first = rows.front().row();
    int last = first;
    for (const QModelIndex& row : rows) {
      first = std::min(first, row.row());
      last = std::max(last, row.row());
    }
    SetRange(first + 1, last + 1);
  });

  view_frame_->SetValue(QStringLiteral("Graphical"));
  Refresh();
}

BitPattern::~BitPattern() = default;

void BitPattern::SetPatternLength(int length) {
  model_.SetLength(length);
  Refresh();
}

void BitPattern::SetStartAddress(int address) {
  SetRange(address, model_.LastAddress());
}

void BitPattern::SetLastAddress(int address) {
  SetRange(model_.StartAddress(), address);
}

void BitPattern::SetRange(int start, int last) {
  model_.SetRange(start, last);
  Refresh();
}

void BitPattern::RangeFromFields() {
  if (updating_) return;
  SetRange(Whole(start_field_->Value()), Whole(last_field_->Value()));
}

void BitPattern::SetChannel2Exists(bool exists) {
  model_.SetChannel2Exists(exists);
  rz_boxes_[1]->setEnabled(exists);
  Refresh();
}

int BitPattern::View() const {
  return stack_->currentIndex();
}

void BitPattern::SetView(int view) {
  view_frame_->SetValue(view == kViewNumerical ? QStringLiteral("Numerical") : QStringLiteral("Graphical"));
}

PatternChannel BitPattern::CurrentChannel() const {
  return static_cast<PatternChannel>(std::clamp(channel_list_->GetCurrItemData(1), 1, 3) - 1);
}

void BitPattern::SetCurrentChannel(PatternChannel channel) {
  channel_list_->SetListIndexByItemData(static_cast<std::int32_t>(channel) + 1);
}

void BitPattern::SetPatternBytes(PatternChannel channel, const std::vector<std::uint8_t>& bytes) {
  model_.LoadBytes(channel, bytes);
  Refresh();
}

bool BitPattern::Rz(int channel) const {
  if (channel < 1 || channel > 2) return false;
  return model_.Rz(static_cast<PatternChannel>(channel - 1));
}

void BitPattern::SetRz(int channel, bool rz) {
  if (channel < 1 || channel > 2) return;
  model_.SetRz(static_cast<PatternChannel>(channel - 1), rz);
  rz_boxes_[channel - 1]->setChecked(rz);
  graph_->Refresh();
}

void BitPattern::SetCalcPrbs(BitPatternModel::CalcPrbs calc_prbs) {
  calc_prbs_ = std::move(calc_prbs);
  Refresh();
}

QAbstractButton* BitPattern::OperationButton(PatternOp op) const {
  return op_buttons_[static_cast<size_t>(op)];
}

QAbstractButton* BitPattern::UndoButton() const {
  return undo_button_;
}

QCheckBox* BitPattern::RzBox(int channel) const {
  return channel == 2 ? rz_boxes_[1] : rz_boxes_[0];
}

bool BitPattern::Report(BitPatternModel::Result result) {
  switch (result) {
    case BitPatternModel::Result::kDone:
      Refresh();
      emit PatternEdited();
      return true;
    case BitPatternModel::Result::kChannel2Disabled:
      Ui().MsgBox(QStringLiteral("Channel 2 Disabled!"), MsgIcon::kExclamation);
      return false;
    case BitPatternModel::Result::kNoPrbs:
      ShowErrorMessage(QStringLiteral("No PRBS generator is available"));
      return false;
    case BitPatternModel::Result::kInvalidArgument:
    case BitPatternModel::Result::kPrbsFailed:  // the generator has told the user
      return false;
  }
  return false;
}

std::optional<int> BitPattern::AskN(PatternOp op) {
  const bool prbs = op == PatternOp::kPrbs;
  const int low = prbs ? BitPatternModel::kMinPrbsExponent : 1;
  const int high = prbs ? BitPatternModel::kMaxPrbsExponent : model_.RangeLength();
  const QString prompt = prbs ? QStringLiteral("Polynomial exponent n (%1 to %2):").arg(low).arg(high)
                              : QStringLiteral("Divide the clock by n (%1 to %2):").arg(low).arg(high);
  const std::optional<QString> answer =
      Ui().InputBox(prompt, Caption(op), prbs ? QStringLiteral("7") : QStringLiteral("2"));
  if (!answer) return std::nullopt;
  bool ok = false;
  const int n = answer->trimmed().toInt(&ok);
  if (!ok || n < low || n > high) {
    Ui().MsgBox(QStringLiteral("n must be a whole number from %1 to %2").arg(low).arg(high),
                MsgIcon::kExclamation);
    return std::nullopt;
  }
  return n;
}

bool BitPattern::RunOperation(PatternOp op) {
  const PatternChannel channel = CurrentChannel();
  if (channel == PatternChannel::kChannel2 && !model_.Channel2Exists()) {
    return Report(BitPatternModel::Result::kChannel2Disabled);
  }
  int n = 0;
  if (op == PatternOp::kClockDivN || op == PatternOp::kPrbs) {
    if (op == PatternOp::kPrbs && !calc_prbs_) return Report(BitPatternModel::Result::kNoPrbs);
    const std::optional<int> asked = AskN(op);
    if (!asked) return false;
    n = *asked;
  }
  BusyCursor busy;
  return Report(model_.Apply(op, channel, n, calc_prbs_));
}

bool BitPattern::Undo() {
  if (!model_.Undo()) return false;
  Refresh();
  emit PatternEdited();
  return true;
}

void BitPattern::EditBit(PatternChannel channel, int address, bool value) {
  Report(model_.SetBit(channel, address, value));
}

void BitPattern::Refresh() {
  updating_ = true;
  for (EngrSpin* field : {start_field_, last_field_}) field->SetDataParameters(1, model_.Length(), 1, 1);
  start_field_->SetValue(model_.StartAddress());
  last_field_->SetValue(model_.LastAddress());
  length_field_->SetValue(model_.Length());
  table_model_->Refresh();
  graph_->Refresh();
  undo_button_->setEnabled(model_.CanUndo());
  OperationButton(PatternOp::kPrbs)->setEnabled(static_cast<bool>(calc_prbs_));
  updating_ = false;
}

}  // namespace pgx::panel
