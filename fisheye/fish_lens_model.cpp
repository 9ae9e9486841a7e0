#include "fisheye/fish_lens_model.h"

#include <algorithm>
#include <cmath>

namespace fisheye {

namespace {

// Samples of rho used to find where the lens branch ends, and the size of
// the grid of view-ray slopes the inverse is kept on.
constexpr int kBranchSamples = 8192;
constexpr int kSlopeGrid = 4096;
constexpr double kHalfPi = 1.57079632679489661923;

bool Finite(double v) { return std::isfinite(v); }

}  // namespace

FishLensModel::FishLensModel(const FishCorrectionParams& p) {
  const double w = p.width, h = p.height;
  const double ss[5] = {p.ss0, p.ss1, p.ss2, p.ss3, p.ss4};
  for (int i = 0; i < 5; ++i) ss_[i] = ss[i];
  if (p.width < 1 || p.height < 1) return;
  for (double s : ss_) {
    if (!Finite(s)) return;
  }
  if (!(ss_[0] > 0.0)) return;

  cx_ = static_cast<double>(p.xCenter) * w;
  cy_ = static_cast<double>(p.yCenter) * h;
  unit_ = 0.5 * std::sqrt(w * w + h * h) * static_cast<double>(p.focalLength) /
          static_cast<double>(p.polFocalLength);
  focal_ = static_cast<double>(p.scaleFactor) * w / 10.0;
  if (!Finite(cx_) || !Finite(cy_) || !Finite(unit_) || !(unit_ > 0.0) || !Finite(focal_) ||
      !(focal_ > 0.0)) {
    return;
  }
  const double split = p.splitHeight;
  if (!(split > 0.0) || !Finite(split)) return;
  viewHeight_ = static_cast<int>(std::lround(std::min(split, 1.0) * h));
  if (viewHeight_ < 1) return;
  px_ = w / 2.0;
  py_ = viewHeight_ / 2.0;

  // The farthest frame corner from the centre bounds the radii worth
  // inverting; a small margin keeps edge pixels inside the branch.
  const double far_x = std::max(std::fabs(cx_), std::fabs(w - cx_));
  const double far_y = std::max(std::fabs(cy_), std::fabs(h - cy_));
  const double rho_limit = (std::sqrt(far_x * far_x + far_y * far_y) + 2.0) / unit_;

  // Walk rho up the increasing branch of theta(rho).
  const double step = rho_limit / kBranchSamples;
  double rho_end = 0.0, theta_end = 0.0;
  for (int i = 1; i <= kBranchSamples; ++i) {
    const double rho = step * i;
    const double theta = angleOfRadius(rho);
    if (!Finite(theta) || theta <= theta_end) break;
    rho_end = rho;
    theta_end = theta;
  }
  if (!(theta_end > 0.0)) return;
  thetaMax_ = theta_end;

  // For a view ray of slope t = tan(theta) inside the branch, rho solves
  // rho = t P(rho), and the source point is c + R P(rho) (d_x, d_y): keep
  // g(t) = R P(rho(t)) on a uniform grid of t up to the farthest view corner
  // (or the end of the branch, where that comes first).
  double t_view = 0.0;
  for (double x : {0.0, w}) {
    for (double y : {0.0, static_cast<double>(viewHeight_)}) {
      t_view = std::max(t_view, std::hypot((x - px_) / focal_, (y - py_) / focal_));
    }
  }
  t_view *= 1.0 + 1e-9;  // the corners themselves stay inside after rounding
  tLimit_ = theta_end < kHalfPi ? std::min(t_view, std::tan(theta_end)) : t_view;
  tStep_ = tLimit_ / (kSlopeGrid - 1);
  scaleOfSlope_.resize(kSlopeGrid);
  for (int k = 0; k < kSlopeGrid; ++k) {
    const double target = std::atan(tStep_ * k);
    double lo = 0.0, hi = rho_end;
    for (int it = 0; it < 50; ++it) {
      const double mid = 0.5 * (lo + hi);
      if (angleOfRadius(mid) < target) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    scaleOfSlope_[k] = unit_ * polynomial(0.5 * (lo + hi));
  }
  valid_ = true;
}

double FishLensModel::polynomial(double rho) const {
  return ss_[0] + rho * (ss_[1] + rho * (ss_[2] + rho * (ss_[3] + rho * ss_[4])));
}

double FishLensModel::angleOfRadius(double rho) const { return std::atan2(rho, polynomial(rho)); }

bool FishLensModel::sourcePoint(double x, double y, double* u, double* v) const {
  if (!valid_ || y >= viewHeight_ || y < 0.0) return false;
  const double dx = (x - px_) / focal_;
  const double dy = (y - py_) / focal_;
  const double t = std::sqrt(dx * dx + dy * dy);
  if (t > tLimit_) return false;
  const double pos = tStep_ > 0.0 ? t / tStep_ : 0.0;
  const int k = std::min(static_cast<int>(pos), kSlopeGrid - 2);
  const double g = scaleOfSlope_[k] + (pos - k) * (scaleOfSlope_[k + 1] - scaleOfSlope_[k]);
  *u = cx_ + g * dx;
  *v = cy_ + g * dy;
  return true;
}

}  // namespace fisheye
