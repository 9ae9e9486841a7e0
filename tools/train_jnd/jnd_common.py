"""Shared pieces of the JND weight tools: the shipped sets, the given values
of sets 1 and 4, the exact filter arithmetic in numpy, and the C++ writer."""

import os
import re

import numpy as np

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SHIPPED_CPP = os.path.join(REPO, "jnd", "jnd_weights_shipped.cpp")

# Offsets of the six parts inside a flat 225-value vector (stored order).
C1W, C1B, C2W, C2B, C3W, C3B = 0, 36, 40, 184, 188, 224
NPARAM = 225

# Values of sets 1 and 4 that are fixed by the product definition: all
# biases and the first four conv1 weights of output channel 0.
GIVEN = {
    1: {"c1b": [-0.130148396, -0.203812227, -0.0874361768, -0.0544667542],
        "c2b": [-0.125934482, -0.00201147143, -0.363471955, -0.0138452919],
        "c3b": 0.0944599137,
        "c1w0": [0.0268102139, -0.00174920552, 0.0334596783, -0.0630508885]},
    4: {"c1b": [-0.0042319051, -0.108761236, -0.0755888671, -0.0639596879],
        "c2b": [0.000449521729, -0.341361731, -0.286889464, -0.370720029],
        "c3b": 0.0592224076,
        "c1w0": [-0.0212626662, -0.0520584658, -0.261246592, -0.174477279]},
}


def given_mask_and_values(set_id):
    """(mask, values) of the 225-vector positions fixed for set 1 or 4."""
    g = GIVEN[set_id]
    mask = np.zeros(NPARAM, bool)
    vals = np.zeros(NPARAM, np.float32)
    idx = list(range(C1B, C1B + 4)) + list(range(C2B, C2B + 4)) + [C3B] + [0, 1, 2, 3]
    v = g["c1b"] + g["c2b"] + [g["c3b"]] + g["c1w0"]
    mask[idx] = True
    vals[idx] = np.array(v, np.float32)
    return mask, vals


def load_shipped(path=SHIPPED_CPP):
    """Parses sets 2 and 3 from the shipped C++ table into flat float32
    vectors of 225 values (conv3 bias once)."""
    text = open(path).read()
    text = re.sub(r"//[^\n]*", "", text)
    sets = {}
    for m in re.finditer(r"kJndWeightSet(\d)\s*=\s*\{(.*?)\};", text, re.S):
        nums = re.findall(r"[-+]?(?:\d+\.\d*|\.\d+|\d+)(?:[eE][-+]?\d+)?f", m.group(2))
        vals = np.array([float(n[:-1]) for n in nums], np.float32)
        if vals.size != 228:
            raise ValueError("set %s: %d values, expected 228" % (m.group(1), vals.size))
        sets[int(m.group(1))] = vals[:NPARAM].copy()
    return sets


def split(theta):
    """Flat 225-vector -> (w1[4,1,3,3], b1[4], w2[4,4,3,3], b2[4], w3[1,4,3,3], b3)."""
    t = np.asarray(theta, np.float32)
    return (t[C1W:C1B].reshape(4, 1, 3, 3), t[C1B:C2W], t[C2W:C2B].reshape(4, 4, 3, 3),
            t[C2B:C3W], t[C3W:C3B].reshape(1, 4, 3, 3), t[C3B])


# ---------------------------------------------------------------- forward
def shifted(x, ky, kx):
    """x[..., y+ky-1, x+kx-1] with edge clamping; x has shape (..., H, W)."""
    h, w = x.shape[-2:]
    ys = np.clip(np.arange(h) + ky - 1, 0, h - 1)
    xs = np.clip(np.arange(w) + kx - 1, 0, w - 1)
    return x[..., ys, :][..., :, xs]


def conv3x3(x, w, b):
    """x (IC,H,W) float32, w (OC,IC,3,3), b (OC,) -> (OC,H,W), edge clamped."""
    oc = w.shape[0]
    out = np.empty((oc,) + x.shape[1:], np.float32)
    out[:] = np.asarray(b, np.float32).reshape(-1, 1, 1)
    for ky in range(3):
        for kx in range(3):
            s = shifted(x, ky, kx)
            out += np.tensordot(w[:, :, ky, kx], s, axes=(1, 0))
    return out


def rte_byte(v):
    """Round half to even and saturate to 0..255 (convert_uchar_sat_rte)."""
    return np.clip(np.rint(v), 0, 255).astype(np.uint8)


def forward_quantised(theta, y):
    """The production arithmetic: y uint8 (H,W) -> uint8 (H,W).
    Intermediates are stored as round(a*127.5) clamped to 0..255 and read
    back as byte/255 by the next layer with its weights scaled by 2."""
    w1, b1, w2, b2, w3, b3 = split(theta)
    x = y.astype(np.float32)[None] / np.float32(255.0)
    a1 = np.maximum(conv3x3(x, w1, b1), 0)
    q1 = rte_byte(a1 * np.float32(127.5)).astype(np.float32) / np.float32(255.0)
    a2 = np.maximum(conv3x3(q1, w2 * 2, b2), 0)
    q2 = rte_byte(a2 * np.float32(127.5)).astype(np.float32) / np.float32(255.0)
    v = conv3x3(q2, w3 * 2, np.array([b3], np.float32))[0]
    return rte_byte(v * np.float32(255.0))


def _conv_hwc(xp, w, b):
    """Valid 3x3 convolution of an edge-padded (H+2,W+2,IC) plane as one
    matrix product; w stored [oc][ic][ky][kx]."""
    h, wd = xp.shape[0] - 2, xp.shape[1] - 2
    oc, ic = w.shape[:2]
    cols = np.concatenate([xp[ky:ky + h, kx:kx + wd] for ky in range(3) for kx in range(3)],
                          axis=2)
    m = w.transpose(2, 3, 1, 0).reshape(9 * ic, oc)
    return cols @ m + np.asarray(b, np.float32)


def _pad(x):
    return np.pad(x, ((1, 1), (1, 1), (0, 0)), mode="edge")


def forward_quantised_fast(theta, y):
    """forward_quantised computed with matrix products (same arithmetic,
    other summation order)."""
    w1, b1, w2, b2, w3, b3 = split(theta)
    x = y.astype(np.float32)[..., None] / np.float32(255.0)
    a1 = np.maximum(_conv_hwc(_pad(x), w1, b1), 0)
    q1 = rte_byte(a1 * np.float32(127.5)).astype(np.float32) / np.float32(255.0)
    a2 = np.maximum(_conv_hwc(_pad(q1), w2 * 2, b2), 0)
    q2 = rte_byte(a2 * np.float32(127.5)).astype(np.float32) / np.float32(255.0)
    v = _conv_hwc(_pad(q2), w3 * 2, np.array([b3], np.float32))[..., 0]
    return rte_byte(v * np.float32(255.0))


def forward_quantised_tiled(theta, y, tile=128):
    """The network on a large plane in row bands (bounded memory): each band
    is computed with 3 extra rows of context on both sides, clamped at the
    plane's own top and bottom edges."""
    h = y.shape[0]
    out = np.empty_like(y)
    for y0 in range(0, h, tile):
        y1 = min(h, y0 + tile)
        lo, hi = max(0, y0 - 3), min(h, y1 + 3)
        band = forward_quantised_fast(theta, y[lo:hi])
        out[y0:y1] = band[y0 - lo:y0 - lo + (y1 - y0)]
    return out


# ---------------------------------------------------------------- writer
def fmt(v):
    s = "%.9g" % float(np.float32(v))
    if "e" not in s and "." not in s:
        s += ".0"
    return s + "f"


def cpp_set(name, theta):
    t = np.asarray(theta, np.float32)
    lines = ["const JndWeightSetData %s = {" % name]

    def block(comment, vals):
        lines.append("    // " + comment)
        lines.append("    {")
        for i in range(0, len(vals), 3):
            lines.append("     " + " ".join(fmt(v) + "," for v in vals[i:i + 3]))
        lines.append("    },")

    block("conv1 weights [oc][ky][kx]", t[C1W:C1B])
    lines.append("    // conv1 bias")
    lines.append("    {" + ", ".join(fmt(v) for v in t[C1B:C2W]) + "},")
    block("conv2 weights [oc][ic][ky][kx]", t[C2W:C2B])
    lines.append("    // conv2 bias")
    lines.append("    {" + ", ".join(fmt(v) for v in t[C2B:C3W]) + "},")
    block("conv3 weights [ic][ky][kx]", t[C3W:C3B])
    lines.append("    // conv3 bias")
    lines.append("    {" + ", ".join([fmt(t[C3B])] * 4) + "},")
    lines.append("};")
    return "\n".join(lines)


def write_cpp(path, set1, set4, header_note=""):
    parts = ["// Weight sets 1 and 4, generated by tools/train_jnd/train_jnd.py; do not edit.",
             "// " + header_note if header_note else None,
             '#include "jnd/jnd_weights.h"', "", "namespace jnd {", "",
             cpp_set("kJndWeightSet1", set1), "", cpp_set("kJndWeightSet4", set4), "",
             "}  // namespace jnd", ""]
    with open(path, "w") as f:
        f.write("\n".join(p for p in parts if p is not None))
