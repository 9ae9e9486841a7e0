// Importing an ONNX graph as an engine network.  Each ONNX operator maps
// through one table (onnx_import.cpp) to a function that checks its
// attributes and emits engine layers, or refuses with a reason; a graph
// that does not map is refused, never computed differently.  Shape
// arithmetic on constants (Shape, Gather, Concat, Cast, ...) is folded at
// import from the static shapes of the graph inputs.
//
// Layout: ONNX tensors are NCHW, engine tensors NHWC.  A rank-4 [N,C,H,W]
// value is the engine tensor n,h,w,c; rank 2 [N,K] is n=N,h=w=1,c=K; rank 1
// [K] is 1,1,1,K; rank 3 [N,C,L] is n=N,h=1,w=L,c=C.  Every imported value
// is held as an engine tensor whose host values are the NHWC order of a
// four-extent "memory shape"; the ONNX values are those, transposed to NCHW
// and read in C order as the ONNX shape.  A flatten of [N,C,H,W] keeps its
// memory shape, so the engine's values stay in NHWC order and a following
// Gemm takes its weight columns permuted to match.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/netrun/net_loader.h"
#include "tools/netrun/onnx_reader.h"

namespace netrun {

using Extents4 = std::array<int32_t, 4>;  // n, h, w, c

// Float values for the network, outside any file: weights (read by layers
// through their weight names) and constant tensors (read as layer inputs).
struct OnnxBlob {
  std::string name;
  Extents4 shape{1, 1, 1, 1};
  std::vector<float> values;  // NHWC order of shape
};

// A graph input or output and the engine tensor it is exchanged through.
struct OnnxPort {
  std::string name;           // the graph's name for it
  std::string tensor;         // the engine tensor
  std::vector<int64_t> dims;  // its ONNX shape
  Extents4 memory{1, 1, 1, 1};  // the engine values are the NHWC order of this
  // An output the import folded to int64 values (shape arithmetic): they
  // are written as they are, with no engine tensor.
  bool folded_int = false;
  std::vector<int64_t> int_values;
};

struct OnnxImport {
  NetDescription net;  // inputs and layers; its weight list stays empty
  std::vector<OnnxBlob> weights;
  std::vector<OnnxBlob> constants;
  std::vector<OnnxPort> inputs;   // graph order
  std::vector<OnnxPort> outputs;  // graph order
};

// The operators the importer maps, in its table's order; constants_only
// marks those taken only on constant inputs (shape arithmetic).
struct OnnxOperator {
  std::string name;
  bool constants_only = false;
};
std::vector<OnnxOperator> OnnxSupportedOperators();

// The graph inputs that are fed at run time (declared inputs that no
// initializer gives a value), in graph order.
std::vector<std::string> OnnxRuntimeInputs(const OnnxGraph& graph);

// Imports the model.  input_shapes replaces declared input shapes (from the
// arrays the caller will feed); a given extent must equal a fixed declared
// one, and a symbolic extent without a given shape is 1 for the batch and
// a refusal elsewhere.  false with a one-line reason: "node NAME (Op):
// REASON" for a node that does not map, "input NAME: ..." for an input.
bool ImportOnnx(const OnnxModel& model,
                const std::map<std::string, std::vector<int64_t>>& input_shapes, OnnxImport* out,
                std::string* error);

// Values in ONNX order (C order of the ONNX shape) to the NHWC order of
// memory, and back; count is the product of memory's extents.
void OnnxToEngineOrder(const float* onnx, const Extents4& memory, float* engine);
void EngineToOnnxOrder(const float* engine, const Extents4& memory, float* onnx);

}  // namespace netrun
