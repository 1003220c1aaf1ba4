#include "board/ClockEstimator.h"

namespace KORVIK {

void ClockEstimator::reset()
{
    n = mean_x = mean_y = cxx = cxy = 0;
    solved = false;
    slope = intercept = NAN;
}

void ClockEstimator::update(double x, double y)
{
    // exponentially weighted mean and co-moment updates; algebraically the
    // same as the plain weighted sums, without their cancellation
    n = lambda * n + 1.0;
    double dx = x - mean_x;
    double dy = y - mean_y;
    mean_x += dx / n;
    mean_y += dy / n;
    cxx = lambda * cxx + dx * (x - mean_x);
    cxy = lambda * cxy + dx * (y - mean_y);
    solved = false;
}

void ClockEstimator::solve()
{
    if (solved)
        return;
    solved = true;
    // the normal matrix's determinant is n * cxx: zero while all x are equal
    if (n * cxx == 0.0) {
        slope = intercept = NAN;
        return;
    }
    slope = cxy / cxx;
    intercept = mean_y - slope * mean_x;
}

double ClockEstimator::predict(double x)
{
    solve();
    if (std::isnan(slope))
        return NAN;
    return mean_y + slope * (x - mean_x);
}

double ClockEstimator::inverse(double y)
{
    solve();
    if (std::isnan(slope))
        return NAN;
    return mean_x + (y - mean_y) / slope;
}

} // namespace KORVIK
