#!/usr/bin/env python3
"""Writes the .npy weights of examples/jnd.json from the filter's weight set 3.

The values are read from jnd/jnd_weights_shipped.cpp (the record
kJndWeightSet3), so the example always matches what the filter ships.
Run from any folder:  python3 examples/make_jnd_weights.py

Source order per convolution: conv1 [oc][ky][kx] (one input channel),
conv2 [oc][ic][ky][kx], conv3 [ic][ky][kx] (one output channel).  The
engine's convolution weights are n = output channels, h = ky, w = kx,
c = input channels.
"""
import os
import re
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "jnd", "jnd_weights_shipped.cpp")
RECORD = "kJndWeightSet3"
HIDDEN = 4


def read_record():
    text = open(SOURCE, encoding="utf-8").read()
    start = text.index("const JndWeightSetData %s = {" % RECORD)
    end = text.index("};", start)
    body = re.sub(r"//[^\n]*", "", text[start:end])
    groups = re.findall(r"\{([^{}]*)\}", body)
    values = [[float(v.rstrip("f")) for v in re.findall(r"-?[0-9.]+(?:e-?[0-9]+)?f", g)]
              for g in groups]
    sizes = [36, 4, 144, 4, 36, 4]
    if [len(v) for v in values] != sizes:
        raise SystemExit("unexpected layout of %s in %s" % (RECORD, SOURCE))
    return values


def write_npy(path, shape, values):
    dims = ", ".join(str(d) for d in shape) + ("," if len(shape) == 1 else "")
    header = "{'descr': '<f4', 'fortran_order': False, 'shape': (%s), }" % dims
    pad = (64 - (10 + len(header) + 1) % 64) % 64
    header = header + " " * pad + "\n"
    with open(path, "wb") as f:
        f.write(b"\x93NUMPY\x01\x00" + struct.pack("<H", len(header)))
        f.write(header.encode("ascii"))
        f.write(struct.pack("<%df" % len(values), *values))


def main():
    w1, b1, w2, b2, w3, b3 = read_record()
    # conv2: [oc][ic][ky][kx] -> [oc][ky][kx][ic]
    w2_nhwc = [w2[((oc * HIDDEN + ic) * 3 + ky) * 3 + kx]
               for oc in range(HIDDEN) for ky in range(3) for kx in range(3)
               for ic in range(HIDDEN)]
    # conv3: [ic][ky][kx] -> [1][ky][kx][ic]
    w3_nhwc = [w3[(ic * 3 + ky) * 3 + kx]
               for ky in range(3) for kx in range(3) for ic in range(HIDDEN)]
    folder = os.path.join(HERE, "jnd")
    os.makedirs(folder, exist_ok=True)
    write_npy(os.path.join(folder, "conv1_w.npy"), (HIDDEN, 3, 3, 1), w1)
    write_npy(os.path.join(folder, "conv1_b.npy"), (HIDDEN,), b1)
    write_npy(os.path.join(folder, "conv2_w.npy"), (HIDDEN, 3, 3, HIDDEN), w2_nhwc)
    write_npy(os.path.join(folder, "conv2_b.npy"), (HIDDEN,), b2)
    write_npy(os.path.join(folder, "conv3_w.npy"), (1, 3, 3, HIDDEN), w3_nhwc)
    write_npy(os.path.join(folder, "conv3_b.npy"), (1,), b3[:1])


if __name__ == "__main__":
    main()
