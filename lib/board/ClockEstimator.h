#pragma once

#include <cmath>

namespace KORVIK {

/// Weighted least-squares fit y = slope * x + intercept with exponential
/// forgetting; maps board ticks to host time.
///
/// The sums are kept about the weighted means rather than about zero: host
/// times are around 1.8e9 s and tick counts grow for hours, and raw sums of
/// x*y and x*x would cancel away most of the precision of the fit.
class ClockEstimator {
public:
    ClockEstimator() { reset(); }

    /// Forgets every sample; lambda is kept.
    void reset();
    /// Forgetting factor per sample is f * f.
    void set_lambda(double f) { lambda = f * f; }
    double get_lambda() const { return lambda; }
    void update(double x, double y);
    /// Slope and intercept are NaN while the samples do not span two x values.
    void solve();
    double get_slope() { solve(); return slope; }
    double get_intercept() { solve(); return intercept; }
    double predict(double x);
    double inverse(double y);

private:
    double lambda = 0.998001;
    double n = 0;       ///< weighted count
    double mean_x = 0;  ///< weighted means
    double mean_y = 0;
    double cxx = 0;     ///< weighted sum of (x - mean_x)^2
    double cxy = 0;     ///< weighted sum of (x - mean_x) * (y - mean_y)
    bool solved = false;
    double slope = NAN, intercept = NAN;
};

} // namespace KORVIK
