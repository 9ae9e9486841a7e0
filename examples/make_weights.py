#!/usr/bin/env python3
"""Writes the .npy weight files of the example networks.

Values are drawn from a fixed-seed generator so that the files are
reproducible; run from any folder:  python3 examples/make_weights.py
Shapes are n, h, w, c as the descriptions declare them.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# network folder -> [(file stem, shape, kind)]; kind: "w" weights scaled
# by fan-in, "b" small biases, "one" values near 1, "pos" positive values.
WEIGHTS = {
    "classifier": [
        ("conv1_w", (8, 3, 3, 3), "w"), ("conv1_b", (8,), "b"),
        ("bn1_scale", (8,), "one"), ("bn1_bias", (8,), "b"),
        ("bn1_mean", (8,), "b"), ("bn1_var", (8,), "pos"),
        ("branch_a_w", (8, 1, 1, 8), "w"),
        ("branch_b_w", (8, 3, 3, 8), "w"), ("branch_b_b", (8,), "b"),
        ("fc_w", (10, 1, 1, 16), "w"), ("fc_b", (10,), "b"),
    ],
    "segmenter": [
        ("enc1_w", (8, 3, 3, 3), "w"), ("enc1_b", (8,), "b"),
        ("enc2_w", (16, 3, 3, 8), "w"), ("enc2_b", (16,), "b"),
        ("head_w", (1, 1, 1, 24), "w"), ("head_b", (1,), "b"),
    ],
    "mobile_block": [
        ("expand_w", (16, 1, 1, 8), "w"), ("expand_b", (16,), "b"),
        ("dw_w", (16, 3, 3, 1), "w"), ("dw_b", (16,), "b"),
        ("prelu_slope", (16,), "pos"),
        ("up_w", (4, 2, 2, 8), "w"), ("up_b", (8,), "b"),
    ],
}


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
    rng = random.Random(20261208)
    for net, rows in WEIGHTS.items():
        folder = os.path.join(HERE, net)
        os.makedirs(folder, exist_ok=True)
        for stem, shape, kind in rows:
            count = 1
            for d in shape:
                count *= d
            fan_in = count // shape[0] if len(shape) > 1 else 1
            if kind == "w":
                bound = (3.0 / fan_in) ** 0.5
                vals = [rng.uniform(-bound, bound) for _ in range(count)]
            elif kind == "b":
                vals = [rng.uniform(-0.1, 0.1) for _ in range(count)]
            elif kind == "one":
                vals = [rng.uniform(0.8, 1.2) for _ in range(count)]
            else:
                vals = [rng.uniform(0.05, 0.5) for _ in range(count)]
            write_npy(os.path.join(folder, stem + ".npy"), shape, vals)


if __name__ == "__main__":
    main()
