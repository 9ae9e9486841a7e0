#include "engine/simd/conv_kernels.h"

#include <algorithm>

#include "engine/core/activation.h"
#include "engine/cpu_info.h"
#include "engine/simd/conv_paths.h"
#include "platform/cpu_features.h"

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

bool ConvLevelState::start_run(Layer* layer, const Tensor* weight, bool generic, Operands* op) {
  op->kernels = &KernelsFor(ChooseConvPath(generic, widest_path));
  if (weight->host_data == nullptr) {
    layer->last_error = kErrNoWeightValues;
    return false;
  }
  op->in = GatherInput(layer->inputs, &input_, &layer->last_error);
  if (op->in == nullptr) return false;
  op->dst = layer->outputs[0]->ensure_host();
  if (op->dst == nullptr) {
    layer->last_error = kErrNoOutputMemory;
    return false;
  }
  return true;
}

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

// ---- Paths ----------------------------------------------------------------

const char* ConvPathName(ConvPath path) {
  switch (path) {
    case ConvPath::kWide128:
      return "wide128";
    case ConvPath::kAvx2:
      return "avx2";
    case ConvPath::kAvx512:
      return "avx512";
    default:
      return "plain";
  }
}

bool ConvPathRuns(ConvPath path) {
  const platform::CpuFeatures& f = platform::GetCpuFeatures();
  switch (path) {
    case ConvPath::kWide128:
      return cpu_info().avx_fma;
    case ConvPath::kAvx2:
      return f.avx2 && f.fma;
    case ConvPath::kAvx512:
      return f.avx512f;
    default:
      return true;
  }
}

ConvPath ChooseConvPath(bool generic, ConvPath widest) {
  if (generic) return ConvPath::kPlain;
  ConvPath chosen = ConvPath::kPlain;
  for (const ConvPath p : kConvPaths)
    if (p <= widest && ConvPathRuns(p)) chosen = p;
  return chosen;
}

const ConvKernels& KernelsFor(ConvPath path) {
  switch (path) {
    case ConvPath::kWide128:
      return Wide128ConvKernels();
    case ConvPath::kAvx2:
      return Avx2ConvKernels();
    case ConvPath::kAvx512:
      return Avx512ConvKernels();
    default:
      return PlainConvKernels();
  }
}

// ---- Packed weights ---------------------------------------------------------

bool PackedWeights::Key::operator==(const Key& o) const {
  return weight_data == o.weight_data && bias_data == o.bias_data && wn == o.wn && wh == o.wh &&
         ww == o.ww && wc == o.wc && bias_elements == o.bias_elements && lanes == o.lanes;
}

PackedWeights::Key PackedWeights::KeyOf(const Tensor* weight, const Tensor* bias, int lanes) {
  Key k;
  k.weight_data = weight->host_data;
  k.wn = weight->n;
  k.wh = weight->h;
  k.ww = weight->w;
  k.wc = weight->c;
  if (bias != nullptr) {
    k.bias_data = bias->host_data;
    k.bias_elements = bias->elements();
  }
  k.lanes = lanes;
  return k;
}

bool PackedWeights::current(const Tensor* weight, const Tensor* bias, int lanes) const {
  return key_.weight_data != nullptr && key_ == KeyOf(weight, bias, lanes);
}

void PackedWeights::remember(const Tensor* weight, const Tensor* bias, int lanes) {
  key_ = KeyOf(weight, bias, lanes);
}

void PackDense(const float* src, int out_c, int taps, int in_c, size_t s_oc, size_t s_t,
               size_t s_ic, int lanes, std::vector<float>* packed) {
  const int ocp = PaddedChannels(out_c, lanes);
  packed->assign(static_cast<size_t>(taps) * in_c * ocp, 0.f);
  for (int t = 0; t < taps; ++t)
    for (int ic = 0; ic < in_c; ++ic) {
      float* row = packed->data() + (static_cast<size_t>(t) * in_c + ic) * ocp;
      for (int oc = 0; oc < out_c; ++oc) row[oc] = src[oc * s_oc + t * s_t + ic * s_ic];
    }
}

void PackDepthwise(const float* src, int c, int taps, int lanes, std::vector<float>* packed) {
  const int cp = PaddedChannels(c, lanes);
  packed->assign(static_cast<size_t>(taps) * cp, 0.f);
  for (int ch = 0; ch < c; ++ch)
    for (int t = 0; t < taps; ++t)
      (*packed)[static_cast<size_t>(t) * cp + ch] = src[static_cast<size_t>(ch) * taps + t];
}

void PadBias(const Tensor* bias, int out_c, int lanes, std::vector<float>* padded) {
  padded->assign(PaddedChannels(out_c, lanes), 0.f);
  if (bias != nullptr && bias->host_data != nullptr)
    std::copy(bias->host_data, bias->host_data + out_c, padded->begin());
}

// ---- Runs over a batch -------------------------------------------------------

namespace {

ConvView ViewOf(const ConvGeometry& g, const std::vector<float>& zeros) {
  return ConvView{g.in_h,           g.in_w,           g.in_c,         g.out_h,
                  g.out_w,          g.out_c,          g.kernel_h,     g.kernel_w,
                  g.row_src.data(), g.col_src.data(), zeros.data()};
}

}  // namespace

void RunImages(ConvKernel kernel, const ConvGeometry& g, int images, const float* in,
               const PackedWeights& packed, float* out, Epilogue e) {
  const std::vector<float> zeros(static_cast<size_t>(g.in_c), 0.f);
  const ConvView view = ViewOf(g, zeros);
  const size_t in_image = static_cast<size_t>(g.in_h) * g.in_w * g.in_c;
  const size_t out_image = static_cast<size_t>(g.out_h) * g.out_w * g.out_c;
  for (int n = 0; n < images; ++n)
    kernel(view, in + n * in_image, packed.weights.data(), packed.bias.data(),
           out + n * out_image, e);
}

}  // namespace simd
}  // namespace engine
