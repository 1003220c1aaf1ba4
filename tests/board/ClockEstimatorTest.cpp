// Numerical soundness of the tick-to-host-time fit with realistic values:
// wall-clock seconds near 1.8e9, hours of ticks, sub-millisecond jitter.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "board/ClockEstimator.h"

using KORVIK::ClockEstimator;

namespace {

TEST(ClockEstimatorPrecision, HoursOfJitteryStatusReportsKeepSubMillisecondTime)
{
    ClockEstimator est;
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> jitter(-300e-6, 300e-6);
    const double t0 = 1.8e9 + 0.123456;
    const double seconds_per_tick = 1e-3 * (1.0 + 50e-6); // board clock 50 ppm slow
    double x = 0;
    double worst = 0;
    // ten reports a second for three hours
    for (int i = 0; i < 108000; ++i) {
        x += 100;
        double truth = t0 + x * seconds_per_tick;
        est.update(x, truth + jitter(rng));
        if (i > 200 && i % 97 == 0) {
            double err = std::fabs(est.predict(x) - truth);
            worst = std::max(worst, err);
        }
    }
    EXPECT_LT(worst, 200e-6);
    EXPECT_NEAR(seconds_per_tick, est.get_slope(), seconds_per_tick * 2e-6);
    // the intercept form is just as good for predictions far from zero
    double truth = t0 + x * seconds_per_tick;
    EXPECT_LT(std::fabs(x * est.get_slope() + est.get_intercept() - truth), 500e-6);
    EXPECT_LT(std::fabs(est.inverse(truth) - x), 0.5);
}

TEST(ClockEstimatorPrecision, OneSampleOrEqualTicksGiveNoFit)
{
    ClockEstimator est;
    est.update(65552, 1.8e9);
    EXPECT_TRUE(std::isnan(est.get_slope()));
    EXPECT_TRUE(std::isnan(est.get_intercept()));
    EXPECT_TRUE(std::isnan(est.predict(65552)));
    est.update(65552, 1.8e9 + 0.1);
    EXPECT_TRUE(std::isnan(est.get_slope()));
    est.update(66552, 1.8e9 + 1.0);
    EXPECT_NEAR(1e-3, est.get_slope(), 1e-4);
    est.reset();
    EXPECT_TRUE(std::isnan(est.get_slope()));
}

TEST(ClockEstimatorPrecision, ForgettingFollowsAChangedClock)
{
    ClockEstimator est;
    double x = 0, y = 1.8e9;
    for (int i = 0; i < 5000; ++i) {
        x += 100;
        y += 0.1;
        est.update(x, y);
    }
    // the board clock changes rate; old samples fade
    for (int i = 0; i < 5000; ++i) {
        x += 100;
        y += 0.1 * (1 + 1e-3);
        est.update(x, y);
    }
    EXPECT_NEAR(1e-3 * (1 + 1e-3), est.get_slope(), 1e-9);
    EXPECT_NEAR(y, est.predict(x), 50e-6);
}

} // namespace
