// The camera model behind FishCorrectionParams: where a point of the
// corrected (rectilinear) view lies in the fisheye frame.
//
// Coordinates are continuous, in luma pixels, with the origin at the top-left
// corner of the frame; pixel (i, j) covers [i, i+1) x [j, j+1) and has its
// centre at (i + 1/2, j + 1/2).  W and H are the frame width and height.
//
// Lens (the fisheye frame):
//   centre   c = (x_center * W, y_center * H)
//   unit     R = sqrt(W^2 + H^2) / 2 * focal_length / pol_focal_length
//   P(rho)   = ss0 + ss1 rho + ss2 rho^2 + ss3 rho^3 + ss4 rho^4
//   A frame point at distance r from c in direction phi has rho = r / R and
//   sees the ray (rho cos phi, rho sin phi, P(rho)); its angle from the
//   optical axis is theta(rho) = atan2(rho, P(rho)).  The lens covers the
//   increasing branch of theta(rho) that starts at rho = 0 (ss0 > 0).
//
// View (the corrected picture):
//   Hv = round(split_height * H) rows at the top of the frame; rows below
//   are black.  A pinhole camera on the lens's optical axis with focal length
//   F = scale_factor * W / 10 pixels and its principal point at (W/2, Hv/2).
//   The view point (X, Y) looks along d = ((X - W/2) / F, (Y - Hv/2) / F, 1):
//   theta = atan(|d|), phi = atan2(d_y, d_x).
//
// Mapping: rho = the inverse of theta(rho) on the lens branch, and the
//   source point is c + R rho (cos phi, sin phi).  A view point whose angle
//   lies beyond the branch has no source point.
//
// With the shipped defaults theta reaches 90 degrees at rho = 0.8516, so a
// 16:9 frame holds a field of about 190 degrees across its width, and the
// view spans 96 degrees horizontally (F = 0.45 W).  docs/fisheye_model.md
// has the full description.
#pragma once

#include <cstdint>
#include <vector>

#include "fisheye/fish_corrector.h"

namespace fisheye {

class FishLensModel {
 public:
  // Builds the model for params at the frame size params.width x
  // params.height.  valid() is false when the parameters describe no usable
  // lens or view (non-positive or non-finite unit radius or focal length,
  // ss0 <= 0, split_height <= 0, a frame size below 1x1).
  explicit FishLensModel(const FishCorrectionParams& params);

  bool valid() const { return valid_; }
  // Rows of the frame that the view covers.
  int viewHeight() const { return viewHeight_; }
  // Largest angle from the optical axis (radians) the lens branch reaches
  // inside the frame.
  double maxAngle() const { return thetaMax_; }

  // The source point of the view point (x, y); false when it has none
  // (below the view, or beyond the lens branch).  The point returned may
  // still lie outside the frame.
  bool sourcePoint(double x, double y, double* u, double* v) const;

  // Lens polynomial and angle of a normalised radius, for documentation
  // and tests.
  double polynomial(double rho) const;
  double angleOfRadius(double rho) const;

 private:
  bool valid_ = false;
  double ss_[5] = {0, 0, 0, 0, 0};
  double cx_ = 0, cy_ = 0;    // lens centre
  double unit_ = 0;           // R
  double focal_ = 0;          // F
  double px_ = 0, py_ = 0;    // principal point of the view
  int viewHeight_ = 0;
  double thetaMax_ = 0;
  double tLimit_ = 0;                  // largest view-ray slope with a source
  double tStep_ = 0;
  std::vector<double> scaleOfSlope_;   // R P(rho) on a uniform grid of slopes
};

}  // namespace fisheye
