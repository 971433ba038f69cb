// quicklook: adding one completed 2048-gate profile column to a panel that
// already shows a full day, and redrawing a whole day of two channels
// (pictures, axes and colour bars) into a 1920x1080 offscreen image, as
// it stands and after a fresh colour scale.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "Common/DateTime.h"
#include "Display/PaletteContrast.h"
#include "Display/QuicklookChannel.h"
#include "Display/QuicklookImage.h"
#include "bench/Bench.h"

namespace OrlaqLidar::Bench {
namespace {

constexpr int kGates = 2048;
constexpr int kDay = 1440;
constexpr int kExtra = 300;

using Clock = std::chrono::steady_clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Noisy decay with a boundary layer and a cloud, different every minute.
std::vector<std::vector<double>> Profiles(int count) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(1.0, 0.05);
  std::vector<std::vector<double>> out(static_cast<size_t>(std::min(count, 64)), std::vector<double>(kGates));
  for (size_t k = 0; k < out.size(); ++k)
    for (int i = 0; i < kGates; ++i) {
      double v = 1e5 * std::exp(-i / 120.0) + 20;
      if (i > 600 + static_cast<int>(k) && i < 640 + static_cast<int>(k)) v += 5e5;
      out[k][static_cast<size_t>(i)] = v * noise(rng);
    }
  return out;
}

bool Run() {
  if (!QGuiApplication::instance()) setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "skyvane-bench";
  static char* argv[] = {name, nullptr};
  std::unique_ptr<QGuiApplication> app;
  if (!QGuiApplication::instance()) app = std::make_unique<QGuiApplication>(argc, argv);

  const auto profiles = Profiles(kDay + kExtra);
  const TDateTime t0 = EncodeDateTime(2024, 6, 1, 0, 0, 0);
  const auto add = [&](TQuicklookChannel& ch, int m) {
    const auto& v = profiles[static_cast<size_t>(m) % profiles.size()];
    ch.AddProfile(t0 + m / 1440.0, t0 + (m + 59.0 / 60) / 1440.0, v, false);
  };

  TQuicklookChannel a(1, "532 nm", kGates, 100e-9, 0), b(2, "1064 nm", kGates, 100e-9, 0);
  for (int m = 0; m < kDay; ++m) add(a, m), add(b, m);

  // Steady state: each new column scrolls the day on by one minute.
  double total = 0, worst = 0;
  for (int m = kDay; m < kDay + kExtra; ++m) {
    const auto s = Clock::now();
    add(a, m);
    const double d = Ms(Clock::now() - s);
    total += d;
    worst = std::max(worst, d);
    add(b, m);
  }
  Report("quicklook", "add_column_ms", total / kExtra, "ms");
  Report("quicklook", "add_column_max_ms", worst, "ms");

  TPaletteContrast palette;
  QImage frame(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  const auto paint = [&] {
    frame.fill(Qt::white);
    QPainter p(&frame);
    TQuicklookImage::Render(p, frame.rect(), {&a, &b}, palette);
  };
  // A repaint of the window: the pictures are kept up to date column by
  // column, so it scales and draws them with their axes and colour bars.
  double best = 1e30;
  for (int round = 0; round < 5; ++round) {
    const auto s = Clock::now();
    paint();
    best = std::min(best, Ms(Clock::now() - s));
  }
  Report("quicklook", "redraw_ms", best, "ms");
  // The same after a fresh colour scale (the double click): the histogram
  // rebuilt from every value and every pixel coloured again.
  best = 1e30;
  for (int round = 0; round < 5; ++round) {
    const auto s = Clock::now();
    a.Slices().Refresh();
    b.Slices().Refresh();
    paint();
    best = std::min(best, Ms(Clock::now() - s));
  }
  Report("quicklook", "rescale_redraw_ms", best, "ms");
  return true;
}

TRegistrar registrar("quicklook", Run);

}  // namespace
}  // namespace OrlaqLidar::Bench
