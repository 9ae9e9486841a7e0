#!/usr/bin/python3
"""Trains JND weight sets 1 and 4 and writes them as a C++ table.

    /usr/bin/python3 tools/train_jnd/train_jnd.py --out jnd/jnd_weights_trained.cpp

Deterministic: fixed seed, single-threaded BLAS.  See docs/jnd_models.md
for the objective, the data and the evaluation."""

import os
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_NUM_THREADS", "1")
os.environ.setdefault("MKL_NUM_THREADS", "1")

import argparse
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jnd_common import (C1W, C1B, C2W, C2B, C3W, C3B, NPARAM, load_shipped,
                        given_mask_and_values, write_cpp)
import jnd_data

SEED = 20261208
PATCH = 64          # output pixels per patch side; inputs carry 3 more per side
CTX = 3             # receptive-field margin of three 3x3 layers
ACT_SCALE = 127.5   # stored activation byte = round(a * 127.5), 0..255
ROUND_OUTPUT = True  # the output byte is rounded (straight-through in training)
LEAK = 0.0           # surrogate gradient below zero, set per training phase
LEAK_START, LEAK_PHASE = 0.1, 0.5   # leak in the first half of each run

# Per set: target smoothing (Gaussian sigma, 7x7) and threshold multiplier
# (the change allowed, in units of the Chou-Li threshold), Adam steps and
# learning rate.  The multipliers are small because the Chou-Li threshold is
# a loose bound: a change of 0.25 thresholds everywhere already reaches a
# butteraugli distance of about 1.0 (just noticeable) on the training content.
CONFIG = {
    1: dict(sigma=1.0, strength=0.15, steps=300, lr=2e-3),
    4: dict(sigma=1.5, strength=0.25, steps=300, lr=3e-3),
}
# Weight of the visibility penalty: the squared excess of |output - input|
# over strength x threshold, in threshold units.  It makes an error that
# changes the picture more than allowed cost more than one that keeps it.
VIS_WEIGHT = 10.0
BATCH = 16
# Both sets start as the identity on video-range luma, built from their
# given biases (see identity_init), and train every value that is not given.
# Route: (conv1 channel, conv2 channel), chosen so that the route starts
# near the output floor while its conv1 activation still spans most of the
# stored range: then one 8-bit activation step is below one output level.
# Set 1's conv3 bias is 24 levels, so alone its route would leave everything
# below 24 at 24; a second, saturating route (BLACK_ROUTE: a steep ramp that
# is full from BLACK_FULL levels on) lowers the floor to video black, and
# the main route starts there.  Being saturated above black, it adds no
# rounding noise.  (A gentle falling route would need conv3 gains of 2.4
# levels per activation step, and that step shows as noise.)
ROUTES = {1: (0, 1), 4: (1, 0)}
BLACK = 16.0 / 255.0
BLACK_ROUTE = {1: (3, 3)}
BLACK_FULL = 14.0 / 255.0
ACT_MAX = 255.0 / 127.5   # largest stored activation
INIT_NOISE = 0.003    # standard deviation of the values on no route
# Training content: every 12th frame of the built-in clip and one photograph.
# Megamind.avi and the other two photographs are kept for evaluation.
TRAIN_BUILTIN_STEP = 12
TRAIN_PHOTOS = ("baboon.jpg",)


# ------------------------------------------------ layers (valid, NHWC)
def im2col(x):
    """(N,H,W,C) -> (N,H-2,W-2,9C), column order (ky, kx, ic)."""
    n, h, w, c = x.shape
    return np.concatenate([x[:, ky:ky + h - 2, kx:kx + w - 2, :]
                           for ky in range(3) for kx in range(3)], axis=3)


def col2im(dcols, shape):
    n, h, w, c = shape
    dx = np.zeros(shape, np.float32)
    k = 0
    for ky in range(3):
        for kx in range(3):
            dx[:, ky:ky + h - 2, kx:kx + w - 2, :] += dcols[..., k * c:(k + 1) * c]
            k += 1
    return dx


def wmat(w):
    """Stored weights [oc][ic][ky][kx] -> matrix [(ky,kx,ic), oc]."""
    oc, ic = w.shape[:2]
    return w.transpose(2, 3, 1, 0).reshape(9 * ic, oc)


def wmat_grad(dm, oc, ic):
    return dm.reshape(3, 3, ic, oc).transpose(3, 2, 0, 1)


def quant_act(a):
    """Forward: ReLU and the stored-byte round trip; backward: straight
    through inside [0, 2] (the representable range), zero above it, and
    LEAK below zero (a surrogate gradient that lets a channel that is off
    everywhere find its way back; 0 in the final phase of training)."""
    q = np.clip(np.rint(a * ACT_SCALE), 0, 255) / np.float32(ACT_SCALE)
    pass_mask = np.where(a > 0, (a < 255 / ACT_SCALE).astype(np.float32), np.float32(LEAK))
    return q.astype(np.float32), pass_mask


def forward_backward(theta, x, target, jnd, strength, want_grad=True):
    """x (N,H+6,W+6,1) in 0..1, target and jnd (N,H,W) in luma levels.
    Returns the loss and its gradient: the mean squared error to the target
    measured in units of the pixel's visibility threshold, plus VIS_WEIGHT x
    the mean squared excess of |output - input| over strength thresholds."""
    t = theta.astype(np.float32)
    w1 = t[C1W:C1B].reshape(4, 1, 3, 3); b1 = t[C1B:C2W]
    w2 = t[C2W:C2B].reshape(4, 4, 3, 3); b2 = t[C2B:C3W]
    w3 = t[C3W:C3B].reshape(1, 4, 3, 3); b3 = t[C3B]
    c1 = im2col(x)
    z1 = c1 @ wmat(w1) + b1
    a1, m1 = quant_act(z1)
    c2 = im2col(a1)
    z2 = c2 @ wmat(w2) + b2
    a2, m2 = quant_act(z2)
    c3 = im2col(a2)
    v = (c3 @ wmat(w3))[..., 0] + b3
    out = v * 255.0
    outc = np.clip(np.rint(out) if ROUND_OUTPUT else out, 0, 255)
    err = (outc - target) / jnd
    change = (outc - x[:, CTX:-CTX, CTX:-CTX, 0] * 255.0) / jnd
    excess = np.maximum(np.abs(change) - strength, 0.0)
    loss = float(np.mean(err.astype(np.float64) ** 2) +
                 VIS_WEIGHT * np.mean(excess.astype(np.float64) ** 2))
    if not want_grad:
        return loss, None
    n_el = err.size
    lo, hi = (-0.5, 255.5) if ROUND_OUTPUT else (0.0, 255.0)
    dloss = err + VIS_WEIGHT * excess * np.sign(change)
    dv = (2.0 / n_el) * dloss / jnd * 255.0 * ((out > lo) & (out < hi))
    dv = dv.astype(np.float32)[..., None]
    g = np.zeros(NPARAM, np.float64)
    g[C3W:C3B] = wmat_grad(c3.reshape(-1, 36).T @ dv.reshape(-1, 1), 1, 4).ravel()
    g[C3B] = dv.sum()
    dz2 = col2im(dv @ wmat(w3).T, a2.shape) * m2
    g[C2W:C2B] = wmat_grad(c2.reshape(-1, 36).T @ dz2.reshape(-1, 4), 4, 4).ravel()
    g[C2B:C3W] = dz2.reshape(-1, 4).sum(0)
    dz1 = col2im(dz2 @ wmat(w2).T, a1.shape) * m1
    g[C1W:C1B] = wmat_grad(c1.reshape(-1, 9).T @ dz1.reshape(-1, 4), 4, 1).ravel()
    g[C1B:C2W] = dz1.reshape(-1, 4).sum(0)
    return loss, g


# ------------------------------------------------------------ data
def load_planes(log, exthost):
    photos = [jnd_data.photo_luma(n) for n in TRAIN_PHOTOS]
    frames = jnd_data.builtin_frames(TRAIN_BUILTIN_STEP, exthost)
    log("data: %s, %d frames of the built-in clip (%dx%d)" %
        (", ".join(TRAIN_PHOTOS), len(frames), frames[0].shape[1], frames[0].shape[0]))
    return photos, frames


class Sampler:
    """Random PATCH x PATCH training crops (plus context) with their JND
    targets; half of each batch from the photographs, half from the clip."""

    def __init__(self, photos, frames, sigma, strength, rng):
        self.groups = []
        for planes in (photos, frames):
            self.groups.append([(p, jnd_data.jnd_target(p, sigma, strength),
                                 jnd_data.jnd_threshold(p)) for p in planes])
        self.rng = rng

    def batch(self, n):
        xs, ts, js = [], [], []
        s = PATCH + 2 * CTX
        for i in range(n):
            group = self.groups[i % 2]
            y, t, j = group[self.rng.integers(len(group))]
            r = self.rng.integers(0, y.shape[0] - s + 1)
            c = self.rng.integers(0, y.shape[1] - s + 1)
            xs.append(y[r:r + s, c:c + s])
            ts.append(t[r + CTX:r + CTX + PATCH, c + CTX:c + CTX + PATCH])
            js.append(j[r + CTX:r + CTX + PATCH, c + CTX:c + CTX + PATCH])
        x = (np.stack(xs).astype(np.float32) / np.float32(255.0))[..., None]
        return x, np.stack(ts).astype(np.float32), np.stack(js).astype(np.float32)


def adam(theta, trainable, sampler, steps, lr, log, tag, val, strength):
    """Adam on the trainable positions, cosine learning-rate decay."""
    global LEAK
    m = np.zeros(NPARAM); v = np.zeros(NPARAM)
    b1, b2, eps = 0.9, 0.999, 1e-8
    th = theta.astype(np.float64).copy()
    for k in range(1, steps + 1):
        x, t, j = sampler.batch(BATCH)
        LEAK = LEAK_START if k <= LEAK_PHASE * steps else 0.0
        loss, g = forward_backward(th, x, t, j, strength)
        g = np.where(trainable, g, 0.0)
        m = b1 * m + (1 - b1) * g
        v = b2 * v + (1 - b2) * g * g
        step_lr = lr * 0.5 * (1 + np.cos(np.pi * (k - 1) / steps))
        th -= step_lr * (m / (1 - b1 ** k)) / (np.sqrt(v / (1 - b2 ** k)) + eps)
        th = th.astype(np.float32).astype(np.float64)
        if k % 100 == 0 or k == steps:
            log("%s step %4d  batch loss %.4f  val loss %.4f" %
                (tag, k, loss, forward_backward(th, *val, strength, want_grad=False)[0]))
    return th.astype(np.float32)


# ------------------------------------------------------------ initial values
def centre(oc, ic, base, n_in):
    """Index of the centre tap of a 3x3 kernel (oc, ic) in the 225-vector."""
    return base + (oc * n_in + ic) * 9 + 4


def identity_init(set_id, rng):
    """Given values in place, small noise elsewhere, and one route that makes
    the network the identity on flat input above the conv3 bias (for set 1
    a second one lowers the floor to video black: see BLACK_ROUTE).

    A route through conv1 channel c and conv2 channel d with kernel sums w
    (conv1) and 1 (conv2) adds w3 (w y + b1[c] + b2[d]) to the floor (the
    conv3 bias b3, or video black where the black route lowers it) wherever
    that is positive, with w3 its conv3 kernel sum; w3 w = 1 and
    w3 (b1[c] + b2[d]) = -floor make the sum y."""
    mask, vals = given_mask_and_values(set_id)
    theta = rng.normal(0, INIT_NOISE, NPARAM).astype(np.float32)
    theta[mask] = vals[mask]
    b1, b2, b3 = theta[C1B:C2W], theta[C2B:C3W], float(theta[C3B])
    c, d = ROUTES[set_id]
    floor = BLACK if set_id in BLACK_ROUTE else b3
    w3 = -floor / float(b1[c] + b2[d])

    # On flat input a kernel acts by its sum: each kernel on the route gets
    # the sum it needs through its centre tap, which absorbs the noise of
    # the other eight.
    def set_sum(base, oc, ic, n_in, total):
        k = centre(oc, ic, base, n_in)
        theta[k] = total - (theta[k - 4:k + 5].sum() - theta[k])

    set_sum(C1W, c, 0, 1, 1.0 / w3)
    set_sum(C2W, d, c, 4, 1.0)
    set_sum(C3W, 0, d, 4, w3)
    if set_id in BLACK_ROUTE:
        # conv1 reaches ACT_MAX at BLACK_FULL; conv2 passes it (gain 1, and
        # 0 from the other route's channel, as the other route ignores this
        # one); conv3 turns the saturated activation into -(b3 - BLACK).
        c, d = BLACK_ROUTE[set_id]
        set_sum(C1W, c, 0, 1, (ACT_MAX - float(b1[c])) / BLACK_FULL)
        set_sum(C2W, d, c, 4, 1.0)
        set_sum(C2W, d, ROUTES[set_id][0], 4, 0.0)
        set_sum(C2W, ROUTES[set_id][1], c, 4, 0.0)
        set_sum(C3W, 0, d, 4, -(b3 - BLACK) / (ACT_MAX + float(b2[d])))
    return theta


# ------------------------------------------------------------ constraints
def nudge_apart(theta, fixed, avoid_same_pos=(), avoid_any=()):
    """Moves each free value by single float32 ulps until it differs from
    the value at the same position in every set of avoid_same_pos and from
    every value in avoid_any.  Returns the number of values moved."""
    moved = 0
    banned_any = set(np.concatenate([np.asarray(a, np.float32) for a in avoid_any]).tolist()) \
        if avoid_any else set()
    for i in range(NPARAM):
        if fixed[i]:
            continue
        val = np.float32(theta[i])
        changed = False
        while any(val == np.float32(a[i]) for a in avoid_same_pos) or float(val) in banned_any:
            val = np.nextafter(val, np.float32(np.inf), dtype=np.float32)
            changed = True
        if changed:
            theta[i] = val
            moved += 1
    return moved


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--out", default="jnd/jnd_weights_trained.cpp")
    ap.add_argument("--quick", action="store_true", help="few steps, for a smoke test")
    ap.add_argument("--exthost", default=jnd_data.EXTHOST,
                    help="exthost, for the built-in clip (default %(default)s)")
    args = ap.parse_args()
    t0 = time.time()

    def log(msg):
        print("[%6.1fs] %s" % (time.time() - t0, msg), flush=True)

    shipped = load_shipped()
    set2, set3 = shipped[2], shipped[3]
    photos, frames = load_planes(log, args.exthost)

    results = {}
    for set_id in (1, 4):
        cfg = CONFIG[set_id]
        steps = 20 if args.quick else cfg["steps"]
        given_mask, given_vals = given_mask_and_values(set_id)
        sampler = Sampler(photos, frames, cfg["sigma"], cfg["strength"],
                          np.random.default_rng([SEED, set_id]))
        val = Sampler(photos, frames, cfg["sigma"], cfg["strength"],
                      np.random.default_rng([SEED, set_id, 1])).batch(32)
        theta = identity_init(set_id, np.random.default_rng([SEED, set_id, 2]))
        trainable = ~given_mask
        log("set %d: sigma %.2f, strength %.2f, %d trainable values, %d steps" %
            (set_id, cfg["sigma"], cfg["strength"], trainable.sum(), steps))
        log("set %d: initial val loss %.4f" %
            (set_id, forward_backward(theta, *val, cfg["strength"], want_grad=False)[0]))
        theta = adam(theta, trainable, sampler, steps, cfg["lr"], log, "set %d" % set_id, val,
                     cfg["strength"])
        theta[given_mask] = given_vals[given_mask]
        results[set_id] = theta

    s1, s4 = results[1], results[4]
    fixed1, _ = given_mask_and_values(1)
    n = nudge_apart(s1, fixed1, avoid_same_pos=(set3, set2))
    log("set 1: %d values moved by one ulp to keep them distinct" % n)
    fixed4, _ = given_mask_and_values(4)
    n = nudge_apart(s4, fixed4, avoid_same_pos=(s1,), avoid_any=(s1,))
    log("set 4: %d values moved by one ulp to keep them distinct" % n)

    # Constraints of the shipped sets.
    for sid, th in ((1, s1), (4, s4)):
        m, g = given_mask_and_values(sid)
        assert np.array_equal(th[m], g[m]), "set %d: a given value changed" % sid
    assert not np.any((s1 == set3) & ~fixed1), "set 1 shares a trained value with set 3"
    assert not np.any(s4 == s1), "set 4 shares a value with set 1"
    assert not np.any(set2 == s1), "set 2 shares a value with set 1"
    assert not np.isin(s4, s1).any(), "set 4 reuses a value of set 1"
    log("checks: given values kept; set 1's %d trained values differ from set 3's; set 4 "
        "and set 2 share none with set 1" % int(np.sum(~fixed1)))

    write_cpp(args.out, s1, s4)
    log("wrote %s" % args.out)


if __name__ == "__main__":
    main()
