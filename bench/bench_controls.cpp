// The panel's controls at their largest: the pattern editor with three channels of 16,384 positions
// (painting the whole pattern in a view, zoomed in, and every edit operation over the whole range; goals
// 4 ms a paint, 1 ms an operation) and EngrSpin's conversions (goal 2 us each). Runs on the offscreen
// platform.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QImage>
#include <QStyleFactory>
#include <cstdint>
#include <string>
#include <vector>

#include "panel/controls/bit_pattern.h"
#include "panel/controls/bit_pattern_model.h"
#include "panel/controls/engr_spin_model.h"
#include "panel/controls/testing/reference_prbs.h"
#include "panel/controls/waveform_view.h"

namespace {

using pgx::panel::BitPatternModel;
using pgx::panel::EngrSpinModel;
using pgx::panel::PatternChannel;
using pgx::panel::PatternOp;
using pgx::panel::WaveformView;

constexpr int kLength = BitPatternModel::kMaxLength;

// Three channels of busy data: a PRBS, a clock / 3 and a sparse strobe.
void FillSample(BitPatternModel& model) {
  std::vector<std::uint8_t> bytes(kLength / 8, 0);
  pgx::panel::testing::ReferencePrbs(1, kLength, 11, bytes);
  model.LoadBytes(PatternChannel::kChannel1, bytes);
  model.SetRange(1, kLength);
  model.Apply(PatternOp::kClockDivN, PatternChannel::kChannel2, 3);
  model.Apply(PatternOp::kClockDivN, PatternChannel::kStrobe, 1000);
  model.SetRz(PatternChannel::kChannel1, true);
}

void PaintView(benchmark::State& state, double scale) {
  BitPatternModel model(kLength);
  FillSample(model);
  WaveformView view;
  view.resize(1280, 360);
  view.SetModel(&model);
  if (scale > 0) {
    view.SetScale(scale);
    view.ScrollToAddress(kLength / 2);
  } else {
    view.FitAll();
  }
  QImage image(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
  for (auto _ : state) {
    view.viewport()->render(&image);
    benchmark::DoNotOptimize(image.bits());
  }
  state.counters["positions"] = view.PaintedPositions();
}

void BM_PaintWholePattern(benchmark::State& state) {
  PaintView(state, 0);
}
void BM_PaintZoomedIn(benchmark::State& state) {
  PaintView(state, 16);
}
BENCHMARK(BM_PaintWholePattern)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PaintZoomedIn)->Unit(benchmark::kMillisecond);

void BM_Operation(benchmark::State& state, PatternOp op) {
  BitPatternModel model(kLength);
  FillSample(model);
  model.SetRange(1, kLength);
  const int n = op == PatternOp::kPrbs ? 14 : 7;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        model.Apply(op, PatternChannel::kChannel1, n, pgx::panel::testing::ReferencePrbs));
  }
}

void BM_EngrValueToText(benchmark::State& state) {
  EngrSpinModel model;
  model.SetBaseUnit("s");
  const double values[] = {1234.5678, 0.00012345, -0.5, 999.96, 3.3e-9, 42};
  size_t i = 0;
  for (auto _ : state) {
    model.SetValue(values[i++ % 6]);
    benchmark::DoNotOptimize(model.Text().data());
  }
}
BENCHMARK(BM_EngrValueToText);

void BM_EngrTextToValue(benchmark::State& state) {
  EngrSpinModel model;
  model.SetBaseUnit("Hz");
  const char* const texts[] = {"5kHz", "1.234", "-2.5M", "250 mHz", "1e-3", "7 k"};
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(model.TextToValue(texts[i++ % 6]));
}
BENCHMARK(BM_EngrTextToValue);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // One benchmark per edit operation, named by its button.
  for (int op = static_cast<int>(PatternOp::kFill0); op <= static_cast<int>(PatternOp::kPrbs); ++op) {
    const std::string name =
        "BM_Operation/" + pgx::panel::BitPattern::Caption(static_cast<PatternOp>(op)).toStdString();
    benchmark::RegisterBenchmark(name.c_str(), BM_Operation, static_cast<PatternOp>(op))
        ->Unit(benchmark::kMicrosecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
