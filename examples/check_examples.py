#!/usr/bin/env python3
"""Runs the classifier and segmenter examples through netrun --device cpu
and compares their outputs with the same networks written out in numpy.

    python3 examples/check_examples.py build/default/bin/netrun

Exit status 0 when both agree within 1e-5, 1 otherwise, 2 without numpy.
"""
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
except ImportError:
    print("numpy is not installed")
    sys.exit(2)

HERE = os.path.dirname(os.path.abspath(__file__))
TOLERANCE = 1e-5


def weight(net, stem):
    return np.load(os.path.join(HERE, net, stem + ".npy")).astype(np.float64)


def conv(x, w, b, stride, pads):
    """x: h, w, c; w: out, kh, kw, in; pads: top, bottom, left, right."""
    h, wd, _ = x.shape
    o, kh, kw, _ = w.shape
    xp = np.pad(x, ((pads[0], pads[1]), (pads[2], pads[3]), (0, 0)))
    oh = (h + pads[0] + pads[1] - kh) // stride + 1
    ow = (wd + pads[2] + pads[3] - kw) // stride + 1
    out = np.zeros((oh, ow, o))
    for i in range(kh):
        for j in range(kw):
            out += xp[i:i + stride * oh:stride, j:j + stride * ow:stride, :] @ w[:, i, j, :].T
    return out if b is None else out + b.reshape(-1)


def bilinear(t, oh, ow):
    """Samples at out * (in / out), right and lower neighbours clamped."""
    h, w, _ = t.shape
    out = np.zeros((oh, ow, t.shape[2]))
    for y in range(oh):
        fy = y * np.float32(h / oh)
        y0 = min(int(fy), h - 1)
        y1, ty = min(y0 + 1, h - 1), fy - y0
        for x in range(ow):
            fx = x * np.float32(w / ow)
            x0 = min(int(fx), w - 1)
            x1, tx = min(x0 + 1, w - 1), fx - x0
            top = t[y0, x0] * (1 - tx) + t[y0, x1] * tx
            bottom = t[y1, x0] * (1 - tx) + t[y1, x1] * tx
            out[y, x] = top * (1 - ty) + bottom * ty
    return out


def classifier(image):
    w = lambda s: weight("classifier", s)
    x = (image[0].astype(np.float64) - 127.5) * 0.0078431373
    c1 = conv(x, w("conv1_w"), w("conv1_b"), 2, (1, 1, 1, 1))
    f = w("bn1_scale").reshape(-1) / np.sqrt(w("bn1_var").reshape(-1) + 1e-5)
    b1 = np.maximum(c1 * f + w("bn1_bias").reshape(-1) - w("bn1_mean").reshape(-1) * f, 0)
    p1 = b1.reshape(8, 2, 8, 2, 8).max(axis=(1, 3))
    a1 = conv(p1, w("branch_a_w"), None, 1, (0, 0, 0, 0))
    bb1 = np.maximum(conv(p1, w("branch_b_w"), w("branch_b_b"), 1, (1, 1, 1, 1)), 0)
    pooled = np.concatenate([a1, bb1], -1).mean(axis=(0, 1))
    logits = w("fc_w").reshape(10, 16) @ pooled + w("fc_b").reshape(-1)
    e = np.exp(logits - logits.max())
    return (e / e.sum()).reshape(1, 1, 1, 10)


def segmenter(frame):
    w = lambda s: weight("segmenter", s)
    x = frame[0].astype(np.float64)
    e1 = np.maximum(conv(x, w("enc1_w"), w("enc1_b"), 2, (1, 1, 1, 1)), 0)
    e2 = np.maximum(conv(e1, w("enc2_w"), w("enc2_b"), 2, (1, 1, 1, 1)), 0)
    u1 = bilinear(e2, 12, 16)
    logit = conv(np.concatenate([e1, u1], -1), w("head_w"), w("head_b"), 1, (0, 0, 0, 0))
    full = logit.repeat(2, 0).repeat(2, 1)
    return (1 / (1 + np.exp(-full))).reshape(1, 24, 32, 1)


def run(netrun, net, values, folder):
    src = os.path.join(folder, net + "_in.npy")
    dst = os.path.join(folder, net + "_out.npy")
    np.save(src, values)
    subprocess.run([netrun, os.path.join(HERE, net + ".json"), "--device", "cpu",
                    "--input", src, "--output", dst], check=True, stdout=subprocess.DEVNULL)
    return np.load(dst)


def main():
    netrun = sys.argv[1] if len(sys.argv) > 1 else "build/default/bin/netrun"
    rng = np.random.RandomState(3)
    image = rng.randint(0, 256, (1, 32, 32, 3)).astype(np.uint8)
    frame = rng.uniform(-1, 1, (1, 24, 32, 3)).astype(np.float32)
    ok = True
    with tempfile.TemporaryDirectory() as folder:
        for net, values, model in (("classifier", image, classifier),
                                   ("segmenter", frame, segmenter)):
            got = run(netrun, net, values, folder)
            want = model(values)
            diff = np.abs(got - want).max() if got.shape == want.shape else float("inf")
            print("%-10s %s max difference %.3g" % (net, "x".join(map(str, got.shape)), diff))
            ok = ok and diff <= TOLERANCE
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
