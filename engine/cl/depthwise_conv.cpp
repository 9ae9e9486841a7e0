#include "engine/cl/depthwise_conv.h"

#include "engine/cl/device_layout.h"
#include "engine/registry.h"

namespace engine {
namespace cl {

int32_t PackDepthwiseParas(int out_c, int out_w, int activation_flag) {
  return static_cast<int32_t>((static_cast<uint32_t>(out_c) << 18) |
                              (static_cast<uint32_t>(out_w) << 4) |
                              (static_cast<uint32_t>(activation_flag) & 0xF));
}

bool DepthwiseConv::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  Tensor* in = inputs[0];
  Tensor* out = outputs[0];
  input_mode = kModeHalfImage;
  output_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized || out->c % 4 != 0) return false;
  // The kernels take one image; a batch runs on the CPU.
  if (in->n != 1) return false;
  if (bias == nullptr || bias->host_data == nullptr || weight->host_data == nullptr) return false;
  // No depthwise kernel takes a dilation; none reads bytes.
  if (dilation_w != 1 || dilation_h != 1) return false;
  for (const Tensor* t : inputs)
    if (t->host_u8 != nullptr) return false;
  if (out->c > 32767 || out->w > 32767 || in->h > 32767 || kernel_w > 32767 || kernel_h > 32767 ||
      pad_w0 > 32767 || pad_h0 > 32767 || stride_w > 32767 || stride_h > 32767)
    return false;

  const bool k3p1 = kernel_w == 3 && kernel_h == 3 && pad_w0 == 1 && pad_h0 == 1;
  const bool s1 = stride_w == 1 && stride_h == 1;
  const bool s2 = stride_w == 2 && stride_h == 2;
  // The packed argument holds 14 bits of width and 13 of channels.
  const bool packs = out->w < (1 << 14) && out->c < (1 << 13);
  std::string chosen;
  if (inputs.size() == 2) {
    // Whole texels from each input.
    if (!(k3p1 && s1 && inputs[0]->c % 4 == 0 && inputs[1]->c % 4 == 0)) return false;
    chosen = "depthwise_in2_conv3x3_s1x1";
  } else if (inputs.size() != 1) {
    return false;
  } else if (k3p1 && s1 && packs) {
    chosen = "depthwise_conv3x3_s1x1";
  } else if (k3p1 && s2 && packs) {
    chosen = "depthwise_conv3x3_s2x2_x1";
  } else {
    chosen = "depthwise_conv";
  }

  weight_mem_ = std::make_unique<opencl::ClMemory>(engine);
  bias_mem_ = std::make_unique<opencl::ClMemory>(engine);
  const TexelExtent we = ImageExtent(kLayoutConvWeight, weight->n, weight->h, weight->w, weight->c);
  const TexelExtent be = ImageExtent(kLayoutNhwc, 1, 1, 1, out->c);
  const size_t max_width = MaxImageWidth(engine);
  if (static_cast<size_t>(we.width) > max_width) return false;
  for (const Tensor* t : inputs)
    if (static_cast<size_t>(ImageExtent(kLayoutNhwc, t->n, t->h, t->w, t->c).width) > max_width)
      return false;
  if (!UploadHalfImage(weight_mem_.get(), we.width, we.height,
                       PackTexels(kLayoutConvWeight, weight->host_data, weight->n, weight->h,
                                  weight->w, weight->c)) ||
      !UploadHalfImage(bias_mem_.get(), be.width, be.height,
                       PackTexels(kLayoutNhwc, bias->host_data, 1, 1, 1, out->c)))
    return false;
  int a = start_kernel(engine, chosen);
  if (a < 0) return false;
  activation_flag = device_activation_flag();
  kernel.SetArgMem(a++, weight_mem_->image);
  kernel.SetArgMem(a++, bias_mem_->image);
  if (chosen == "depthwise_in2_conv3x3_s1x1") {
    for (int v : {inputs[0]->c, inputs[1]->c, out->w, in->h, 0, activation_flag})
      kernel.SetArgShort(a++, static_cast<int16_t>(v));
  } else if (chosen == "depthwise_conv") {
    for (int v : {out->c, kernel_w, kernel_h, pad_w0, pad_h0, stride_w, stride_h, out->w, in->h, 0,
                  activation_flag})
      kernel.SetArgShort(a++, static_cast<int16_t>(v));
  } else {
    kernel.SetArgInt(a++, PackDepthwiseParas(out->c, out->w, activation_flag));
    kernel.SetArgShort(a++, static_cast<int16_t>(in->h));
    kernel.SetArgShort(a++, 0);
  }
  const size_t oc4 = static_cast<size_t>(out->c / 4);
  const size_t ow = static_cast<size_t>(out->w);
  kernel.SetGlobalSize(oc4, chosen == "depthwise_conv3x3_s2x2_x1" ? ow : (ow + 3) / 4,
                       static_cast<size_t>(out->h));
  on_device = true;
  return true;
}

OXRIN_REGISTER_LAYER("DepthwiseConv", cl::DepthwiseConv);

}  // namespace cl
}  // namespace engine
