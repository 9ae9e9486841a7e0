#include "engine/cl/deconv.h"

#include "engine/cl/device_layout.h"
#include "engine/registry.h"

namespace engine {
namespace cl {

bool DeConv::prepare(core::RunEnv& env) {
  opencl::clEngine* engine = env.engine;
  Tensor* in = inputs[0];
  Tensor* out = outputs[0];
  input_mode = kModeHalfImage;
  if (engine == nullptr || !engine->initialized || inputs.size() != 1) return false;
  // The kernels take one image; a batch runs on the CPU.
  if (in->n != 1) return false;
  if (bias == nullptr || bias->host_data == nullptr || weight->host_data == nullptr) return false;
  if (in->host_u8 != nullptr || in->c % 4 != 0 || out->w % 4 != 0 || kernel_w % 2 != 0) return false;
  // The kernels take no dilation.
  if (stride_w != 2 || stride_h != 2 || dilation_w != 1 || dilation_h != 1) return false;
  if (in->c > 32767 || out->c > 32767 || out->w > 32767 || in->h > 32767 || kernel_w > 32767 ||
      kernel_h > 32767 || pad_w0 < 0 || pad_h0 < 0 || pad_w0 >= kernel_w || pad_h0 >= kernel_h)
    return false;

  const bool cx = out->c % 4 != 0;
  const char* chosen = cx ? "deconv_s2x2_cx" : "deconv_s2x2_nx";
  const int32_t layout = cx ? kLayoutNhwc : kLayoutConvWeight;
  output_mode = cx ? kModeHalfBuffer : kModeHalfImage;

  weight_mem_ = std::make_unique<opencl::ClMemory>(engine);
  bias_mem_ = std::make_unique<opencl::ClMemory>(engine);
  const TexelExtent we = ImageExtent(layout, weight->n, weight->h, weight->w, weight->c);
  if (static_cast<size_t>(we.width) > MaxImageWidth(engine) ||
      static_cast<size_t>(ImageExtent(kLayoutNhwc, 1, in->h, in->w, in->c).width) >
          MaxImageWidth(engine))
    return false;
  if (!UploadHalfImage(weight_mem_.get(), we.width, we.height,
                       PackTexels(layout, weight->host_data, weight->n, weight->h, weight->w,
                                  weight->c)) ||
      !UploadHalfBuffer(bias_mem_.get(), PackBiasHalves(bias->host_data, out->c)))
    return false;
  int a = start_kernel(engine, chosen);
  if (a < 0) return false;
  activation_flag = 0;
  kernel.SetArgMem(a++, weight_mem_->image);
  kernel.SetArgMem(a++, bias_mem_->buffer);
  for (int v : {in->c, out->c, out->w, in->h, kernel_w, kernel_h, kernel_w - pad_w0 - 1,
                kernel_h - pad_h0 - 1})
    kernel.SetArgShort(a++, static_cast<int16_t>(v));
  const size_t ow4 = static_cast<size_t>((out->w + 3) / 4);
  kernel.SetGlobalSize(cx ? static_cast<size_t>(out->c) : static_cast<size_t>((out->c + 3) / 4),
                       ow4, static_cast<size_t>(out->h));
  on_device = true;
  return true;
}

OXRIN_REGISTER_LAYER("ConvTranspose", cl::DeConv);

}  // namespace cl
}  // namespace engine
