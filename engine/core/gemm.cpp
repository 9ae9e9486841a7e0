#include "engine/core/gemm.h"

#include <utility>

#include "engine/shape.h"

namespace engine {
namespace core {

const char* const kErrGemmNotVector = "input is not a vector";
const char* const kErrGemmExtents = "weight extents disagree with the input";

Gemm::Gemm(const LayerDesc& desc, TensorMap& tensors, WeightMap& weights) {
  take_names(desc);
  trans_a = desc.params[0];
  trans_b = desc.params[1];
  if (desc.factors_set) {
    alpha = desc.alpha;
    beta = desc.beta;
  }
  bind_tensors(desc, tensors, 1);
  std::vector<Tensor*> w = find_weights(desc, weights);
  if (!w.empty()) weight = w[0];
  if (w.size() >= 2) bias = w[1];
}

bool Gemm::reshape(RunEnv&) {
  if (!require(1, 1)) return false;
  const Tensor* in = inputs[0];
  if (weight == nullptr || weight->n < 1 || weight->elements() == 0) return fail(kErrNoWeight);
  // The input as a matrix: rows are its pixels, columns its channels (the
  // other way round with trans_a); one of the two must be 1.
  int64_t rows = static_cast<int64_t>(in->elements()) / in->c;
  int64_t cols = in->c;
  if (trans_a != 0) std::swap(rows, cols);
  if (rows != 1 && cols != 1) return fail(kErrGemmNotVector);
  const int64_t k = static_cast<int64_t>(in->elements());
  const int64_t w_rows = weight->n;
  const int64_t w_cols = static_cast<int64_t>(weight->elements()) / weight->n;
  const int64_t n = trans_b != 0 ? w_cols : w_rows;
  const int64_t w_k = trans_b != 0 ? w_rows : w_cols;
  if (w_k != k) return fail(kErrGemmExtents);
  if (bias != nullptr && static_cast<int64_t>(bias->elements()) < n) return fail(kErrBias);
  length_in = k;
  length_out = n;
  if (in->layout != kLayoutNhwc) return set_output(0, 1, 1, n, 1, in->layout);
  return set_output(0, 1, 1, 1, n, in->layout);
}

}  // namespace core
}  // namespace engine
