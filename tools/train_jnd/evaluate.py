#!/usr/bin/python3
"""Evaluates the four shipped JND weight sets on real content with the
filter's exact quantised arithmetic: mean change of luma, PSNR of the
filtered luma against the input, and the x264 bitrate at CRF 23 against
the unfiltered clip.

    /usr/bin/python3 tools/train_jnd/evaluate.py [--frames 60] [--markdown]

Set 1 and 4 values are read from jnd/jnd_weights_trained.cpp, sets 2 and
3 from jnd/jnd_weights_shipped.cpp."""

import os
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import argparse
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from jnd_common import REPO, load_shipped, forward_quantised_tiled
import jnd_data

TRAINED_CPP = os.path.join(REPO, "jnd", "jnd_weights_trained.cpp")
SIZE = (1280, 720)
FPS = "2997/125"          # the clip's own frame rate
FLAT_LEVELS = (16, 32, 64, 128, 192, 235)
X264 = ["-c:v", "libx264", "-crf", "23", "-preset", "medium", "-threads", "2"]


def load_sets(trained_cpp):
    sets = load_shipped()
    sets.update(load_shipped(trained_cpp))
    return {k: sets[k] for k in sorted(sets)}


def encode_bytes(frames, path):
    """Encodes YUV 4:2:0 frames with x264 CRF 23; returns the stream size."""
    raw = path + ".yuv"
    with open(raw, "wb") as f:
        for y, u, v in frames:
            f.write(y.tobytes()); f.write(u.tobytes()); f.write(v.tobytes())
    out = path + ".264"
    subprocess.run(["ffmpeg", "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt", "yuv420p",
                    "-s", "%dx%d" % SIZE, "-r", FPS, "-i", raw] + X264 + ["-f", "h264", out],
                   check=True)
    size = os.path.getsize(out)
    os.remove(raw); os.remove(out)
    return size


def change_stats(ins, outs):
    d = np.concatenate([(o.astype(np.float64) - i).ravel() for i, o in zip(ins, outs)])
    mse = np.mean(d * d)
    psnr = 10 * np.log10(255.0 ** 2 / mse) if mse > 0 else float("inf")
    return np.mean(np.abs(d)), np.mean(d), psnr


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--frames", type=int, default=60)
    ap.add_argument("--first", type=int, default=0)
    ap.add_argument("--trained", default=TRAINED_CPP)
    ap.add_argument("--no-encode", action="store_true")
    args = ap.parse_args()
    t0 = time.time()
    sets = load_sets(args.trained)

    photos = {n: jnd_data.photo_luma(n) for n in jnd_data.PHOTOS}
    clip = jnd_data.video_frames(args.first, args.frames, SIZE)
    print("clip: Megamind.avi frames %d..%d scaled to %dx%d; %d frames" %
          (args.first, args.first + len(clip) - 1, SIZE[0], SIZE[1], len(clip)), flush=True)

    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        base = None if args.no_encode else encode_bytes(clip, os.path.join(tmp, "ref"))
        for sid, theta in sets.items():
            outs = [forward_quantised_tiled(theta, y) for y, _, _ in clip]
            mad, mean, psnr = change_stats([f[0] for f in clip], outs)
            photo = []
            for name, y in photos.items():
                pm, _, pp = change_stats([y], [forward_quantised_tiled(theta, y)])
                photo.append((name, pm, pp))
            size = None
            if base is not None:
                size = encode_bytes([(o, u, v) for o, (_, u, v) in zip(outs, clip)],
                                    os.path.join(tmp, "s%d" % sid))
            flat = [int(forward_quantised_tiled(theta, np.full((8, 8), v, np.uint8))[4, 4])
                    for v in FLAT_LEVELS]
            rows.append((sid, mad, mean, psnr, size, photo, flat))
            print("set %d done (%.0fs)" % (sid, time.time() - t0), flush=True)

    secs = len(clip) * 125.0 / 2997.0
    print()
    print("Clip (%d frames, 1280x720), x264 CRF 23 preset medium:" % len(clip))
    print()
    print("| set | mean abs change (levels) | mean change (levels) | PSNR vs input (dB) "
          "| bitrate (kbit/s) | saving |")
    print("|---|---|---|---|---|---|")
    if base is not None:
        print("| none | 0 | 0 | inf | %.0f | 0%% |" % (base * 8 / secs / 1000))
    for sid, mad, mean, psnr, size, *_ in rows:
        if size is None:
            print("| %d | %.2f | %+.2f | %.2f | - | - |" % (sid, mad, mean, psnr))
        else:
            print("| %d | %.2f | %+.2f | %.2f | %.0f | %.1f%% |" %
                  (sid, mad, mean, psnr, size * 8 / secs / 1000, 100.0 * (1 - size / base)))
    print()
    print("Photographs (luma in video range), mean abs change / PSNR vs input (dB):")
    print()
    print("| set | " + " | ".join(jnd_data.PHOTOS) + " |")
    print("|---|" + "---|" * len(jnd_data.PHOTOS))
    for sid, *_, photo, flat in rows:
        print("| %d | " % sid + " | ".join("%.2f / %.2f" % (pm, pp) for _, pm, pp in photo) + " |")
    print()
    print("Output for a flat plane of the given luma level:")
    print()
    print("| set | " + " | ".join(str(v) for v in FLAT_LEVELS) + " |")
    print("|---|" + "---|" * len(FLAT_LEVELS))
    for sid, *_, flat in rows:
        print("| %d | " % sid + " | ".join(str(v) for v in flat) + " |")


if __name__ == "__main__":
    main()
