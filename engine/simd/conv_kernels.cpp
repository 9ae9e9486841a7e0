#include "engine/simd/conv_kernels.h"

#include <immintrin.h>

#include <algorithm>

#include "engine/core/activation.h"

namespace engine {
namespace simd {

const char* const kErrNoInputValues = "an input holds no values";
const char* const kErrNoWeightValues = "the weight holds no values";
const char* const kErrNoOutputMemory = "output buffer cannot be allocated";

namespace {

// Source index of one tap along one axis, or -1 when it falls outside.
int32_t ForwardSource(int o, int tap, int stride, int dilation, int pad0, int extent) {
  const int64_t s = static_cast<int64_t>(o) * stride + static_cast<int64_t>(tap) * dilation - pad0;
  return s >= 0 && s < extent ? static_cast<int32_t>(s) : -1;
}

int32_t TransposedSource(int o, int tap, int stride, int dilation, int pad0, int extent) {
  const int64_t t = static_cast<int64_t>(o) + pad0 - static_cast<int64_t>(tap) * dilation;
  if (t < 0 || t % stride != 0) return -1;
  const int64_t s = t / stride;
  return s < extent ? static_cast<int32_t>(s) : -1;
}

template <class F>
void Fill(std::vector<int32_t>* table, int outs, int taps, F source) {
  table->resize(static_cast<size_t>(outs) * taps);
  for (int o = 0; o < outs; ++o)
    for (int t = 0; t < taps; ++t) (*table)[static_cast<size_t>(o) * taps + t] = source(o, t);
}

}  // namespace

void ForwardTaps(ConvGeometry* g, int stride_h, int stride_w, int dilation_h, int dilation_w,
                 int pad_h0, int pad_w0) {
  Fill(&g->row_src, g->out_h, g->kernel_h,
       [&](int o, int t) { return ForwardSource(o, t, stride_h, dilation_h, pad_h0, g->in_h); });
  Fill(&g->col_src, g->out_w, g->kernel_w,
       [&](int o, int t) { return ForwardSource(o, t, stride_w, dilation_w, pad_w0, g->in_w); });
}

void TransposedTaps(ConvGeometry* g, int stride_h, int stride_w, int dilation_h,
                    int dilation_w, int pad_h0, int pad_w0) {
  Fill(&g->row_src, g->out_h, g->kernel_h, [&](int o, int t) {
    return TransposedSource(o, t, stride_h, dilation_h, pad_h0, g->in_h);
  });
  Fill(&g->col_src, g->out_w, g->kernel_w, [&](int o, int t) {
    return TransposedSource(o, t, stride_w, dilation_w, pad_w0, g->in_w);
  });
}

// The plain build: SSE multiply then add.
#define KERNEL_ATTR
#define KERNEL_MADD(a, b, acc) _mm_add_ps(_mm_mul_ps(a, b), acc)
#define KERNEL_EPILOGUE EpiloguePlain
#define KERNEL_STORE StorePlain
#define KERNEL_BLOCKS BlocksPlain
#define KERNEL_BLOCKS1 BlocksOnePlain
#define KERNEL_BLOCKS8 BlocksEightPlain
#define KERNEL_BLOCKS4 BlocksFourPlain
#define KERNEL_CONV ConvPlain
#define KERNEL_DEPTHWISE DepthwisePlain
#include "engine/simd/conv_kernels.inc"
#undef KERNEL_ATTR
#undef KERNEL_MADD
#undef KERNEL_EPILOGUE
#undef KERNEL_STORE
#undef KERNEL_BLOCKS
#undef KERNEL_BLOCKS1
#undef KERNEL_BLOCKS8
#undef KERNEL_BLOCKS4
#undef KERNEL_CONV
#undef KERNEL_DEPTHWISE

// The wide build: fused multiply-add, for this function only (the rest of
// the library stays runnable on any x86-64).
#define KERNEL_ATTR __attribute__((target("avx,fma")))
#define KERNEL_MADD(a, b, acc) _mm_fmadd_ps(a, b, acc)
#define KERNEL_EPILOGUE EpilogueWide
#define KERNEL_STORE StoreWide
#define KERNEL_BLOCKS BlocksWide
#define KERNEL_BLOCKS1 BlocksOneWide
#define KERNEL_BLOCKS8 BlocksEightWide
#define KERNEL_BLOCKS4 BlocksFourWide
#define KERNEL_CONV ConvWide
#define KERNEL_DEPTHWISE DepthwiseWide
#include "engine/simd/conv_kernels.inc"
#undef KERNEL_ATTR
#undef KERNEL_MADD
#undef KERNEL_EPILOGUE
#undef KERNEL_STORE
#undef KERNEL_BLOCKS
#undef KERNEL_BLOCKS1
#undef KERNEL_BLOCKS8
#undef KERNEL_BLOCKS4
#undef KERNEL_CONV
#undef KERNEL_DEPTHWISE

const float* GatherInput(const std::vector<Tensor*>& inputs, std::vector<float>* scratch,
                         std::string* why) {
  if (inputs.size() == 1 && inputs[0]->host_u8 == nullptr) {
    if (inputs[0]->host_data == nullptr) *why = kErrNoInputValues;
    return inputs[0]->host_data;
  }
  const Tensor* first = inputs[0];
  const size_t pixels = static_cast<size_t>(first->n) * first->h * first->w;
  int total_c = 0;
  for (const Tensor* t : inputs) total_c += t->c;
  scratch->assign(pixels * total_c, 0.f);
  int c0 = 0;
  for (const Tensor* t : inputs) {
    const int c = t->c;
    if (t->host_u8 != nullptr) {
      for (size_t p = 0; p < pixels; ++p)
        for (int k = 0; k < c; ++k)
          (*scratch)[p * total_c + c0 + k] =
              (static_cast<float>(t->host_u8[p * c + k]) - t->mean[k % 3]) * t->scale[k % 3];
    } else if (t->host_data != nullptr) {
      for (size_t p = 0; p < pixels; ++p)
        std::copy(t->host_data + p * c, t->host_data + (p + 1) * c,
                  scratch->data() + p * total_c + c0);
    } else {
      *why = kErrNoInputValues;
      return nullptr;
    }
    c0 += c;
  }
  return scratch->data();
}

Epilogue FoldActivation(Layer* layer) {
  Epilogue e;
  if (layer->next_layers.empty()) return e;
  auto* act = dynamic_cast<core::Activation*>(layer->next_layers[0]);
  if (act == nullptr) return e;
  if (act->kind == kActRelu || act->kind == kActRelu6 || act->kind == kActLeakyRelu) {
    e.kind = act->kind;
    e.alpha = act->alpha;
    act->fused = true;
  }
  return e;
}

void PadBias(const Tensor* bias, int out_c, std::vector<float>* padded) {
  padded->assign(PaddedChannels(out_c), 0.f);
  if (bias != nullptr && bias->host_data != nullptr)
    std::copy(bias->host_data, bias->host_data + out_c, padded->begin());
}

}  // namespace simd
}  // namespace engine
