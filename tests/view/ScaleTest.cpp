// The numbers the views draw with: round ticks for a table of spans, full input ranges per kind
// of channel, a palette that never repeats within a panel, min/max buckets against brute force,
// and the trigger's event within one sample.

#include <gtest/gtest.h>

#include <QPointF>
#include <cmath>
#include <random>
#include <set>

#include "channels/Catalogue.h"
#include "view/Buckets.h"
#include "view/Charts.h"
#include "view/Scale.h"
#include "view/Trigger.h"

namespace quillbox::view {
namespace {

QString Labels(const std::vector<Tick>& ticks) {
  QStringList labels;
  for (const Tick& t : ticks) labels << t.label;
  return labels.join(QLatin1Char(' '));
}

TEST(Scale, RoundTicksOnWholeStepsForATableOfSpans) {
  const struct {
    double lo, hi;
    int target;
    bool time;
    const char* labels;
  } rows[] = {
      {-10.5, 10.5, 5, false, "-10 -5 0 5 10"},
      {-0.6321, 9.999, 8, false, "0 2 4 6 8"},
      {-0.05, 4.3, 5, false, "0 1 2 3 4"},
      {-0.0003, 0.0011, 4, false, "0.0000 0.0005 0.0010"},
      {2.75, 4.384, 4, false, "3.0 3.5 4.0"},
      {-12, 32, 2, false, "0 20"},  // a step of 50 would leave one tick
      // Time: the same labels wherever the window starts, h:mm:ss from two minutes on.
      {10.59, 20.59, 5, true, "12 14 16 18 20"},
      {13.09, 23.09, 5, true, "14 16 18 20 22"},
      {0, 3600, 6, true, "0:00:00 0:10:00 0:20:00 0:30:00 0:40:00 0:50:00 1:00:00"},
      {95, 3695, 4, true, "0:15:00 0:30:00 0:45:00 1:00:00"},
      {0, 10000, 8, true, "0:00:00 0:30:00 1:00:00 1:30:00 2:00:00 2:30:00"},
  };
  for (const auto& r : rows) {
    const auto ticks = r.time ? TimeTicks(r.lo, r.hi, r.target) : ValueTicks(r.lo, r.hi, r.target);
    EXPECT_EQ(Labels(ticks), QString::fromLatin1(r.labels)) << r.lo << ".." << r.hi;
  }
  EXPECT_EQ(TimeTitle(60), QStringLiteral("time (s)"));
  EXPECT_EQ(TimeTitle(600), QStringLiteral("time (h:mm:ss)"));
}

TEST(Scale, FullRangeIsTheInputRangeOfEachKindOfChannel) {
  const struct {
    std::string text;
    double scale, lo, hi;
  } rows[] = {
      {GetModuleRange(10), GetModuleScale(10), -10, 10},
      {GetModuleRange(9), GetModuleScale(9), -1, 1},
      {GetModuleRange(22), GetModuleScale(22), 0, 20},
      {GetModuleRange(40), GetModuleScale(40), -25, 75},
      {DirectSourceInfo().RangeText, DirectSourceInfo().Scale, 0, 4.096},
      {"0\u20264,096 V", 62.5, 0, 4.096},  // made under a locale with a decimal comma
      {TTLSourceInfo().RangeText, TTLSourceInfo().Scale, 0, 1},
      // No range known (an empty slot, raw codes): the code range.
      {GetModuleRange(255), 1, -32768, 32767},
      {"", 2, -16384, 16383.5},
  };
  for (const auto& r : rows) {
    const auto [lo, hi] = InputRange(r.text, r.scale);
    EXPECT_DOUBLE_EQ(lo, r.lo) << r.text;
    EXPECT_DOUBLE_EQ(hi, r.hi) << r.text;
  }
}

TEST(Scale, PaletteNeverRepeatsWithinAPanelAndReadsOnWhite) {
  std::set<QRgb> seen;
  for (std::size_t i = 0; i < kTraceColours; ++i) {
    const QColor c = TraceColour(i);
    EXPECT_TRUE(seen.insert(c.rgb()).second) << i;
    // Contrast against white of at least 3:1 (relative luminance at most 0.3).
    const auto linear = [](double v) {
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double l =
        0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    EXPECT_GE(1.05 / (l + 0.05), 3.0) << c.name().toStdString();
  }
}

TEST(Scale, BucketedExtremesEqualBruteForceMinMax) {
  std::mt19937 random(7);
  std::normal_distribution<float> noise(0, 1);
  for (const double perBucket : {0.5, 1.0, 7.3, 250.0}) {
    constexpr int64_t kFrames = 20000;
    constexpr std::size_t kCount = 64;
    std::vector<float> values(2 * kFrames);
    for (float& v : values) v = noise(random);
    Buckets buckets;
    buckets.Reset(2, perBucket, kCount);
    for (int64_t f = 0; f < kFrames; ++f) buckets.Add(f, &values[static_cast<std::size_t>(2 * f)]);
    QList<QPointF> points;
    buckets.Points(1, 0, kFrames - 1, 1.0, points);
    // Every bucket still held, each one's lowest and highest value of column 1.
    const int64_t first = buckets.BucketOf(kFrames - 1) - kCount + 1;
    for (int64_t key = first; key <= buckets.BucketOf(kFrames - 1); ++key) {
      float lo = INFINITY, hi = -INFINITY;
      for (int64_t f = 0; f < kFrames; ++f)
        if (buckets.BucketOf(f) == key)
          lo = std::min(lo, values[static_cast<std::size_t>(2 * f + 1)]),
          hi = std::max(hi, values[static_cast<std::size_t>(2 * f + 1)]);
      double plo = INFINITY, phi = -INFINITY;
      for (const QPointF& p : points)
        if (buckets.BucketOf(static_cast<int64_t>(p.x())) == key)
          plo = std::min(plo, p.y()), phi = std::max(phi, p.y());
      ASSERT_EQ(plo, lo) << perBucket << " bucket " << key;
      ASSERT_EQ(phi, hi) << perBucket << " bucket " << key;
    }
    EXPECT_LE(points.size(), 2 * static_cast<qsizetype>(kCount));
  }
}

TEST(Scale, TriggerFindsTheCrossingWithinOneSampleAndRefusesBadSettings) {
  const std::vector<recording::RecordColumn> columns = {{0, "M1-Ch1", "V", 1, true},
                                                        {24, "TTL-In1", "TTL", 1000, true}};
  // A 3 Hz sine sampled at 1 kHz: rising through 0.5 first at asin(0.5) / (2 pi 3) s.
  const double rate = 1000, f = 3;
  const auto sine = [&](int64_t i) {
    return std::sin(2 * M_PI * f * static_cast<double>(i) / rate);
  };
  const struct {
    const char* setting;
    double expected;  // seconds
  } rows[] = {{"0:rising:0.5", std::asin(0.5) / (2 * M_PI * f)},
              {"M1-Ch1:falling:0.5:auto", (M_PI - std::asin(0.5)) / (2 * M_PI * f)},
              {"M1-Ch1:rising:-0.5:normal", (2 * M_PI - std::asin(0.5)) / (2 * M_PI * f)}};
  for (const auto& r : rows) {
    TriggerSetting setting;
    std::string error;
    ASSERT_TRUE(ParseTrigger(r.setting, columns, setting, error)) << error;
    // Looked for in pieces, as polls bring the frames.
    std::optional<int64_t> at;
    for (int64_t from = 1; !at && from < 1000; from += 37)
      at = FindCrossing(setting, sine, 0, from, from + 37);
    ASSERT_TRUE(at) << r.setting;
    EXPECT_NEAR(static_cast<double>(*at) / rate, r.expected, 1 / rate) << r.setting;
  }
  for (const char* bad : {"0:rising", "7:rising:1", "0:up:1", "0:rising:x", "0:rising:1:once"}) {
    TriggerSetting setting;
    std::string error;
    EXPECT_FALSE(ParseTrigger(bad, columns, setting, error)) << bad;
    EXPECT_EQ(error.rfind("--trigger: ", 0), 0u) << error;
  }
}

}  // namespace
}  // namespace quillbox::view
