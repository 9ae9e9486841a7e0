"""How close netrun's output must come to a reference, per device.

The CPU level computes in float32 and is held to the ONNX backend tests' own
tolerance: |got - want| <= CPU_ATOL + CPU_RTOL |want| for every value.

The OpenCL level keeps every tensor and weight on the device in half
precision.  Its tolerance follows from half's unit roundoff u = 2^-11 (the
largest relative error of rounding a value to the nearest half; 10 stored
mantissa bits) and from the graph itself:

- each computing layer reads its input and its weights rounded to half and
  writes its result rounded to half: up to 3u of the output's magnitude
  (the arithmetic itself is float32 on a device without cl_khr_fp16);
- a device that also accumulates in half (one with cl_khr_fp16) rounds each
  of the K partial sums of a K-term dot product; those errors add like a
  random walk, about sqrt(K) u more;
- errors of chained layers add to first order, so the budget is the sum over
  the computing layers: rtol = u * sum(3 + sqrt(K_layer)), without the
  sqrt(K) terms where the device accumulates in float.

Rounding errors scale with the magnitudes a layer sums, not with each single
result (a result near zero may come from large terms that cancel), so the
bound is taken relative to the output's largest magnitude: a value passes
when |got - want| <= CPU_ATOL + rtol * max|want|.  Layers that only move
values (reshape, concatenation, slicing) round nothing and cost nothing.
"""

import math

import numpy as np

CPU_RTOL = 1e-3
CPU_ATOL = 1e-7
HALF_UNIT = 2.0 ** -11

# ONNX operators that only move or relabel values: no rounding of their own.
MOVING_OPS = frozenset({
    "Cast", "Concat", "Constant", "ConstantOfShape", "DepthToSpace", "Dropout",
    "Expand", "Flatten", "Gather", "Identity", "Pad", "Reshape", "Shape", "Slice",
    "SpaceToDepth", "Split", "Squeeze", "Tile", "Transpose", "Unsqueeze",
})


def _attr(node, name, default=None):
    for a in node.attribute:
        if a.name == name:
            if a.ints:
                return list(a.ints)
            if a.type == a.INT:
                return a.i
            if a.type == a.FLOAT:
                return a.f
    return default


def _prod(values):
    p = 1
    for v in values:
        p *= max(int(v), 1)
    return p


def _shapes(model, feeds):
    """Static shapes by tensor name: initializers, the fed inputs and what
    ONNX's shape inference derives."""
    import onnx
    shapes = {t.name: list(t.dims) for t in model.graph.initializer}
    for name, value in feeds.items():
        shapes[name] = list(value.shape)
    try:
        inferred = onnx.shape_inference.infer_shapes(model)
        for vi in list(inferred.graph.value_info) + list(inferred.graph.output):
            dims = vi.type.tensor_type.shape.dim
            if dims and all(d.HasField("dim_value") for d in dims):
                shapes.setdefault(vi.name, [d.dim_value for d in dims])
    except Exception:  # shape inference is a help here, not a requirement
        pass
    return shapes


def _depth(node, shapes):
    """Terms summed into one output value of this node (1 when unknown)."""
    def shape(i):
        return shapes.get(node.input[i]) if len(node.input) > i else None

    op = node.op_type
    if op == "Conv" and shape(1):
        return _prod(shape(1)[1:])
    if op == "ConvTranspose" and shape(1):
        w = shape(1)
        return _prod([w[0] // max(_attr(node, "group", 1), 1)] + w[2:])
    if op == "Gemm" and shape(0):
        a = shape(0)
        return a[0] if _attr(node, "transA", 0) else a[-1]
    if op == "MatMul" and shape(0):
        return shape(0)[-1]
    if op in ("AveragePool", "LpPool"):
        return _prod(_attr(node, "kernel_shape", [1]))
    if op in ("GlobalAveragePool", "GlobalLpPool", "InstanceNormalization") and shape(0):
        return _prod(shape(0)[2:])
    if op in ("Softmax", "LogSoftmax", "Hardmax") and shape(0):
        x = shape(0)
        return x[_attr(node, "axis", -1)] if x else 1
    if op.startswith("Reduce") and shape(0):
        x = shape(0)
        axes = _attr(node, "axes", None)
        if axes is None:
            return _prod(x)
        return _prod([x[a] for a in axes])
    return 1


def half_rtol(model, feeds, half_accumulation=True):
    """The OpenCL level's relative tolerance for this model (see above)."""
    shapes = _shapes(model, feeds) if half_accumulation else {}
    budget = 0.0
    for node in model.graph.node:
        if node.op_type in MOVING_OPS:
            continue
        budget += 3.0
        if half_accumulation:
            budget += math.sqrt(_depth(node, shapes))
    return HALF_UNIT * max(budget, 3.0)


def errors(got, want):
    """(max abs error, max relative error over nonzero reference values)."""
    got = np.asarray(got, dtype=np.float64)
    want = np.asarray(want, dtype=np.float64)
    if want.size == 0:
        return 0.0, 0.0
    diff = np.abs(got - want)
    both_nan = np.isnan(got) & np.isnan(want)
    diff[both_nan] = 0.0
    max_abs = float(np.max(diff))
    nonzero = want != 0
    max_rel = float(np.max(diff[nonzero] / np.abs(want[nonzero]))) if nonzero.any() else 0.0
    return max_abs, max_rel


def within_cpu(got, want):
    return bool(np.all(np.isclose(np.asarray(got, dtype=np.float64),
                                  np.asarray(want, dtype=np.float64),
                                  rtol=CPU_RTOL, atol=CPU_ATOL, equal_nan=True)))


def magnitude(want):
    """The largest finite magnitude among the reference values (0 if none)."""
    want = np.asarray(want, dtype=np.float64)
    finite = want[np.isfinite(want)]
    return float(np.max(np.abs(finite))) if finite.size else 0.0


def within_half(got, want, rtol):
    got = np.asarray(got, dtype=np.float64)
    want = np.asarray(want, dtype=np.float64)
    if want.size == 0:
        return True
    scale = magnitude(want)
    return bool(np.all(np.isclose(got, want, rtol=0.0, atol=CPU_ATOL + rtol * scale,
                                  equal_nan=True)))
