#include "engine/cl/kernel_sources.h"

#include "jnd/jnd_program.h"
#include "opencl/cl_engine.h"
#include "opencl/cl_prelude.h"

namespace engine {
namespace cl {

namespace {

const char kKernelNamePrelude[] =
#include "kernel_name_prelude_cl.inc"
    ;

struct Embedded {
  const char* name;
  const char* text;
};

// Engine sources in EngineSource order (generated from cl/kernels/*.cl).
const Embedded kEngineSources[kEngineSourceCount] = {
    {"concat",
#include "concat_cl.inc"
    },
    {"conv_blocks",
#include "conv_blocks_cl.inc"
    },
    {"conv",
#include "conv_cl.inc"
    },
    {"depthwise",
#include "depthwise_cl.inc"
    },
    {"pooling",
#include "pooling_cl.inc"
    },
    {"binary_op",
#include "binary_op_cl.inc"
    },
    {"image_to_buf",
#include "image_to_buf_cl.inc"
    },
    {"shuffle",
#include "shuffle_cl.inc"
    },
    {"split",
#include "split_cl.inc"
    },
    {"softmax",
#include "softmax_cl.inc"
    },
    {"resize",
#include "resize_cl.inc"
    },
    {"deconv",
#include "deconv_cl.inc"
    },
    {"batchnorm",
#include "batchnorm_cl.inc"
    },
    {"slice",
#include "slice_cl.inc"
    },
    {"normalize",
#include "normalize_cl.inc"
    },
    {"shuffle_split2",
#include "shuffle_split2_cl.inc"
    },
    {"conv_input_uint8",
#include "conv_input_uint8_cl.inc"
    },
    {"conv1x1",
#include "conv1x1_cl.inc"
    },
    {"conv3x3",
#include "conv3x3_cl.inc"
    },
    {"conv3x3_n1",
#include "conv3x3_n1_cl.inc"
    },
};

std::vector<KernelSourceEntry> BuildTable() {
  std::vector<KernelSourceEntry> table;
  for (int code = 0; code < opencl::kVendorCount; ++code) {
    const char* name = opencl::VendorInfo(code).name;
    table.push_back({name, name});
  }
  table.push_back({"prelude", std::string(opencl::ClPreludeText(), opencl::ClPreludeLength())});
  table.push_back({"kernel_name_prelude", kKernelNamePrelude});
  table.push_back({"jnd_generic", jnd::JndVariantSource(jnd::JndVariant::kGeneric)});
  table.push_back({"jnd_qualcomm", jnd::JndVariantSource(jnd::JndVariant::kQualcomm)});
  table.push_back({"jnd_imagination", jnd::JndVariantSource(jnd::JndVariant::kImagination)});
  for (const Embedded& e : kEngineSources) table.push_back({e.name, e.text});
  return table;
}

}  // namespace

const std::vector<KernelSourceEntry>& KernelSourceTable() {
  static const std::vector<KernelSourceEntry> table = BuildTable();
  return table;
}

int EngineSourceTableOffset() { return opencl::kVendorCount + 5; }

const std::string& KernelNamePrelude() {
  return KernelSourceTable()[opencl::kVendorCount + 1].text;
}

const std::string& EngineSourceText(int source) {
  static const std::string empty;
  if (source < 0 || source >= kEngineSourceCount) return empty;
  return KernelSourceTable()[EngineSourceTableOffset() + source].text;
}

const std::string& EngineSourcesText() {
  static const std::string joined = [] {
    std::string text;
    for (int s = 0; s < kEngineSourceCount; ++s) {
      text += EngineSourceText(s);
      text += '\n';
    }
    return text;
  }();
  return joined;
}

}  // namespace cl
}  // namespace engine
