#pragma once

#include <cmath>

namespace KORVIK {

/// Weighted least-squares fit y = slope * x + intercept with exponential
/// forgetting; maps board ticks to host time.
class ClockEstimator {
public:
    ClockEstimator() { reset(); }

    void reset();
    void set_lambda(double f) { lambda = f * f; }
    double get_lambda() const { return lambda; }
    void update(double x, double y);
    void solve();
    double get_slope() { solve(); return slope; }
    double get_intercept() { solve(); return intercept; }
    double predict(double x) { solve(); return x * slope + intercept; }
    double inverse(double y) { solve(); return (y - intercept) / slope; }

private:
    double lambda = 0.998001;
    double sxx = 0, sx_a = 0, sx_b = 0, n = 0, sxy = 0, sy = 0;
    bool solved = false;
    double slope = NAN, intercept = NAN;
};

} // namespace KORVIK
