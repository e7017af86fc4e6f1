// The settings window's two previews. One frame of the arrangement preview for all seven styles
// (posed, projected and drawn with QPainter into a 252 × 140 picture each), and the backdrop blur of
// a 640 × 400 still at the slider's mid and full strength. Goals: a preview frame under 1 ms of CPU
// (so seven previews at 60 Hz stay under a quarter of one core), the blur under 8 ms per slider tick.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdlib>
#include <memory>

#include "QtBenchMain.h"
#include "base/DefaultsStore.h"
#include "scene/LayoutFactory.h"
#include "settings/AppSettings.h"
#include "pictures/BackdropBlur.h"
#include "settings_ui/BackdropPreview.h"
#include "settings_ui/StylePreview.h"
#include "settings_ui/StylePreviewFrame.h"

namespace quorvel {
namespace {

// What one preview draws per frame: the layout from the settings, the cards, the plate and each
// card's fill and outline.
void drawFrame(QImage& canvas, const AppSettings& settings, AppSettings::SwitcherStyle style, double seconds) {
  StylePreviewFrame::Input in;
  in.current = LayoutFactory::makeLayout(style, settings);
  in.cards = StylePreviewFrame::cardCount(style);
  in.focus = StylePreviewFrame::focusAt(seconds, in.cards);
  in.preserveProportions = true;
  in.width = canvas.width();
  in.height = canvas.height();
  const auto cards = StylePreviewFrame::cards(in);
  const auto inks = StylePreviewFrame::inks(cards);
  QPainter p(&canvas);
  p.setRenderHint(QPainter::Antialiasing);
  QPainterPath plate;
  plate.addRoundedRect(QRectF(canvas.rect()), 10, 10);
  p.fillPath(plate, QColor(40, 44, 52));
  for (size_t i = 0; i < cards.size(); ++i) {
    const QPainterPath shape = StylePreview::cardShape(cards[i].points);
    p.fillPath(shape, QColor::fromRgbF(0.9f, 0.9f, 0.95f, static_cast<float>(inks[i].fill)));
    p.strokePath(shape, QPen(QColor::fromRgbF(0.9f, 0.9f, 0.95f, static_cast<float>(inks[i].stroke)), 1));
  }
}

void BM_StylePreviewFrameAllStyles(benchmark::State& state) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  QImage canvas(252, 140, QImage::Format_ARGB32_Premultiplied);
  double seconds = 0;
  for (auto _ : state) {
    for (AppSettings::SwitcherStyle style : SettingEnums::allCases<AppSettings::SwitcherStyle>()) {
      canvas.fill(Qt::transparent);
      drawFrame(canvas, settings, style, seconds);
    }
    seconds += 1.0 / 60;
    benchmark::DoNotOptimize(canvas.constBits());
  }
}
BENCHMARK(BM_StylePreviewFrameAllStyles)->Unit(benchmark::kMicrosecond);

// The blur of a still as wide as the first argument (640: the preview's; 1920: a full-width still
// of a 1920 × 1080 screen), at the blur amount of the second (per cent), measured as on that width.
void BM_BackdropBlur(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const QImage picture = BackdropPreview::standIn().scaled(width, width * 9 / 16).convertToFormat(QImage::Format_ARGB32);
  DesktopStill still{picture.width(), picture.height(), {}};
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) still.pixels.push_back(picture.pixel(x, y));
  const double radius = BackdropBlur::radiusFor(static_cast<double>(state.range(1)) / 100, width);
  for (auto _ : state) {
    DesktopStill out = BackdropBlur::blurred(still, radius);
    benchmark::DoNotOptimize(out.pixels.data());
  }
  state.SetLabel("blurAmount " + std::to_string(state.range(1)) + "%");
}
BENCHMARK(BM_BackdropBlur)
    ->ArgNames({"width", "amount"})
    ->Args({640, 5})
    ->Args({640, 50})
    ->Args({640, 100})
    ->Args({1920, 5})
    ->Args({1920, 50})
    ->Args({1920, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvel

int main(int argc, char** argv) { return quorvel::runQtBenchmarks<QGuiApplication>(argc, argv); }
