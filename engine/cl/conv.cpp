#include "engine/cl/conv.h"

#include "engine/cl/device_layout.h"
#include "engine/registry.h"

namespace engine {
namespace cl {

const char* const kTypeReshape = "Reshape";

namespace {

size_t Blocks(int c) { return static_cast<size_t>((c + 3) / 4); }

}  // namespace

ConvPlan PlanConv(const WindowParams& p, int in_h, int in_w, int in_c, int in_layout, int out_c,
                  int out_h, int out_w, bool byte_input, bool buffer_out, bool sub_groups) {
  ConvPlan plan;
  const bool undilated = p.dilation_w == 1 && p.dilation_h == 1;
  const bool k1 = p.kernel_w == 1 && p.kernel_h == 1;
  const bool k3 = p.kernel_w == 3 && p.kernel_h == 3;
  const bool s1 = p.stride_w == 1 && p.stride_h == 1;
  const bool s2 = p.stride_w == 2 && p.stride_h == 2;
  const size_t oc4 = Blocks(out_c);
  const size_t ow4 = Blocks(out_w);
  const char* const suffix = buffer_out ? "_buf_out" : "";
  plan.buffer_out = buffer_out;
  plan.byte_input = byte_input;

  if (byte_input) {
    // Neither byte kernel takes a dilation; the stride-2 one also fixes a
    // padding of 1 on the leading edges and an input of twice the output's
    // extent (it is given no input extent).
    if (!undilated) return plan;
    if (k3 && s2 && (in_c == 1 || in_c == 3) && out_c % 4 == 0 && p.pad_w0 == 1 && p.pad_h0 == 1 &&
        in_w == 2 * out_w && in_h == 2 * out_h) {
      plan.kernel = std::string("conv3x3_s2x2_input_uint8") + suffix;
    } else {
      plan.kernel = std::string("conv_input_uint8") + suffix;
      plan.generic_args = true;
    }
    plan.weight_layout = kLayoutConvWeight;
    plan.global[0] = oc4;
    plan.global[1] = ow4;
    plan.global[2] = static_cast<size_t>(out_h);
    return plan;
  }

  // The fast kernels need whole 4-channel input texels and have no pad
  // argument: 1x1 reads with no leading pad; 3x3 takes its padding from
  // the extents, which only a padding of one on every side gives right.
  if (in_c % 4 == 0 && k1 && s1 && p.pad_w0 == 0 && p.pad_h0 == 0) {
    const bool small = (out_w % 4 != 0 && out_w < 16 && out_c <= 64) ||
                       oc4 * static_cast<size_t>(out_h) * out_w * 4 < 4096;
    plan.kernel = "conv1x1_s1x1";
    if (in_layout == kLayoutFourPixel) plan.kernel += "_w4";
    if (small) plan.kernel += "_x1";
    plan.kernel += suffix;
    plan.weight_layout = kLayoutFastWeight;
    plan.global[0] = oc4;
    plan.global[1] = small ? static_cast<size_t>(out_w) : ow4;
    plan.global[2] = static_cast<size_t>(out_h);
    return plan;
  }
  if (in_c % 4 == 0 && k3 && s1 && undilated && p.pad_w0 == 1 && p.pad_w1 == 1 &&
      p.pad_h0 == 1 && p.pad_h1 == 1) {
    const bool small = buffer_out || oc4 * static_cast<size_t>(out_w) * out_h * 4 < 4096;
    if (buffer_out && sub_groups && in_c % 32 == 0) {
      plan.kernel = std::string("conv3x3_s1x1_n1_x1_sub_group8") + suffix;
      plan.sub_group = true;
      plan.weight_layout = kLayoutNhwc;
      plan.global[0] = 8;
      plan.global[1] = static_cast<size_t>(out_c) * out_w;
      plan.global[2] = static_cast<size_t>(out_h);
      return plan;
    }
    plan.kernel = "conv3x3_s1x1";
    if (small) plan.kernel += buffer_out ? "_n1_x1" : "_x1";
    plan.kernel += suffix;
    plan.weight_layout = buffer_out && small ? kLayoutNhwc : kLayoutFastWeight;
    plan.global[0] = buffer_out && small ? static_cast<size_t>(out_c) : oc4;
    plan.global[1] = small ? static_cast<size_t>(out_w) : ow4;
    plan.global[2] = static_cast<size_t>(out_h);
    return plan;
  }
  // A single float input channel stays on the CPU.
  if (in_c <= 1) return plan;
  plan.kernel = std::string("conv") + suffix;
  plan.generic_args = true;
  plan.weight_layout = kLayoutConvWeight;
  plan.global[0] = oc4;
  plan.global[1] = ow4;
  plan.global[2] = static_cast<size_t>(out_h);
  return plan;
}

bool Conv::reshape(core::RunEnv& env) {
  stay_on_host();
  buffer_out = false;
  plan = ConvPlan{};
  return prepare_after(simd::Conv::reshape(env), env);
}

bool Conv::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  Tensor* in = inputs[0];
  Tensor* out = outputs[0];
  input_mode = in->host_u8 != nullptr ? kModeByteBuffer : kModeHalfImage;
  if (engine == nullptr || !engine->initialized) return false;
  // The kernels take one image; a batch runs on the CPU.
  if (in->n != 1) return false;
  // The kernels read one input tensor.
  if (inputs.size() != 1 || weight == nullptr || weight->host_data == nullptr ||
      bias == nullptr || bias->host_data == nullptr)
    return false;
  if (!FitsShort({in->c, in->w, in->h, out->c, out->w, out->h, kernel_w, kernel_h, pad_w0,
                  pad_h0, stride_w, stride_h, dilation_w, dilation_h}))
    return false;
  const bool to_reshape = out->consumers.size() == 1 && out->consumers[0]->type == kTypeReshape;
  plan = PlanConv(*this, in->h, in->w, in->c, in->layout, out->c, out->h, out->w,
                  input_mode == kModeByteBuffer, to_reshape,
                  engine->khrSubgroups && engine->fixedSubgroupSize == 8);
  if (plan.kernel.empty()) return false;
  buffer_out = plan.buffer_out;
  output_mode = buffer_out ? kModeHalfBuffer : kModeHalfImage;

  // Weights (and, for the byte kernels, their linear form), bias.
  weight_mem_ = std::make_unique<opencl::ClMemory>(engine);
  bias_mem_ = std::make_unique<opencl::ClMemory>(engine);
  const std::vector<uint16_t> texels =
      PackTexels(plan.weight_layout, weight->host_data, weight->n, weight->h, weight->w, weight->c);
  const TexelExtent we = ImageExtent(plan.weight_layout, weight->n, weight->h, weight->w, weight->c);
  if (static_cast<size_t>(we.width) > MaxImageWidth(engine) && !plan.byte_input) return false;
  const bool weights_ok = plan.byte_input ? UploadHalfBuffer(weight_mem_.get(), texels)
                                          : UploadHalfImage(weight_mem_.get(), we.width, we.height, texels);
  if (!weights_ok || !UploadHalfBuffer(bias_mem_.get(), PackBiasHalves(bias->host_data, out->c)))
    return false;
  int a = start_kernel(engine, plan.kernel);
  if (a < 0) return false;
  activation_flag = device_activation_flag();
  kernel.SetArgMem(a++, plan.byte_input ? weight_mem_->buffer : weight_mem_->image);
  kernel.SetArgMem(a++, bias_mem_->buffer);
  kernel.SetArgShort(a++, static_cast<int16_t>(in->c));
  kernel.SetArgShort(a++, static_cast<int16_t>(out->c));
  kernel.SetArgShort(a++, static_cast<int16_t>(out->w));
  if (plan.byte_input) {
    kernel.SetArgShort(a++, static_cast<int16_t>(out->h));
    if (plan.generic_args) {
      for (int v : {kernel_w, kernel_h, pad_w0, pad_h0, stride_w, stride_h, in->w, in->h})
        kernel.SetArgShort(a++, static_cast<int16_t>(v));
    }
    for (float m : in->mean) kernel.SetArgFloat(a++, m);
    for (float s : in->scale) kernel.SetArgFloat(a++, s);
  } else if (plan.kernel.compare(0, 12, "conv1x1_s1x1") != 0) {
    kernel.SetArgShort(a++, static_cast<int16_t>(in->h));
    if (plan.generic_args) {
      for (int v : {kernel_w, kernel_h, pad_w0, pad_h0, stride_w, stride_h, dilation_w, dilation_h})
        kernel.SetArgShort(a++, static_cast<int16_t>(v));
    }
  }
  kernel.SetArgShort(a++, static_cast<int16_t>(activation_flag));
  // Eight lanes of a sub-group share one output value.
  if (plan.sub_group) {
    kernel.fixedLocal[0] = 8;
    kernel.fixedLocal[1] = 0;
    kernel.fixedLocal[2] = 0;
  }
  kernel.SetGlobalSize(plan.global);
  on_device = true;
  return true;
}

bool Conv::run(core::RunEnv& env) {
  if (!on_device) return simd::Conv::run(env);
  return run_device(env);
}

OXRIN_REGISTER_LAYER("Conv", cl::Conv);

}  // namespace cl
}  // namespace engine
