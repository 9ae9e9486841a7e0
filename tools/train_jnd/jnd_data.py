"""Training and evaluation content: real photographs and a real video from
Debian's opencv-doc package (copied to ../shared/testdata), exthost's
built-in generated clip, as 8-bit luma planes in video range, and the JND
threshold model used for the targets."""

import os
import subprocess

import numpy as np
from PIL import Image

TESTDATA = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..",
                                        "shared", "testdata"))
PHOTOS = ["baboon.jpg", "fruits.jpg", "leuvenA.jpg"]
VIDEO = "Megamind.avi"
REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EXTHOST = os.environ.get("EXTHOST", os.path.join(REPO, "build", "default", "bin", "exthost"))
BUILTIN_SIZE = (1280, 720)


def photo_luma(name, testdata=TESTDATA):
    """JPEG luma (full range, BT.601) mapped to video range 16..235, as the
    filter sees decoded video."""
    y = np.asarray(Image.open(os.path.join(testdata, name)).convert("YCbCr"))[..., 0]
    return np.rint(16.0 + y.astype(np.float64) * (219.0 / 255.0)).astype(np.uint8)


def video_frames(first, count, size=None, testdata=TESTDATA):
    """Frames [first, first+count) of the clip as YUV 4:2:0 planes
    (list of (Y, U, V) uint8 arrays), decoded with ffmpeg."""
    vf = "select=between(n\\,%d\\,%d)" % (first, first + count - 1)
    if size:
        vf += ",scale=%d:%d" % size
    cmd = ["ffmpeg", "-v", "error", "-i", os.path.join(testdata, VIDEO), "-vf", vf,
           "-vsync", "0", "-pix_fmt", "yuv420p", "-f", "rawvideo", "-"]
    raw = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
    if size is None:
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0",
                                "-show_entries", "stream=width,height", "-of", "csv=p=0",
                                os.path.join(testdata, VIDEO)],
                               check=True, stdout=subprocess.PIPE, text=True).stdout
        w, h = (int(v) for v in probe.strip().split(",")[:2])
    else:
        w, h = size
    fs = w * h * 3 // 2
    n = len(raw) // fs
    frames = []
    for i in range(n):
        b = np.frombuffer(raw, np.uint8, fs, i * fs)
        y = b[:w * h].reshape(h, w)
        u = b[w * h:w * h + w * h // 4].reshape(h // 2, w // 2)
        v = b[w * h + w * h // 4:].reshape(h // 2, w // 2)
        frames.append((y, u, v))
    return frames


def builtin_frames(step, exthost=EXTHOST):
    """Luma of every `step`-th frame of exthost's built-in clip (1280x720,
    60 frames, video range), written through the fisheye extension, which
    changes no pixel."""
    raw = subprocess.run([exthost, "--ext", "fisheye", "--quiet", "-o", "-"],
                         check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    w, h = BUILTIN_SIZE
    pos = raw.index(b"\n") + 1                # stream header
    planes = []
    n = 0
    while pos < len(raw):
        pos = raw.index(b"\n", pos) + 1       # FRAME line
        if n % step == 0:
            planes.append(np.frombuffer(raw, np.uint8, w * h, pos).reshape(h, w).copy())
        pos += w * h * 3 // 2
        n += 1
    return planes


# ------------------------------------------------------------ JND model
# Spatial JND after Chou and Li (1995): the visibility threshold of a pixel
# is the larger of a luminance-adaptation term and a contrast-masking term,
# both functions of the 5x5 background luminance bg and the maximum
# weighted gradient mg around the pixel.
_B = np.array([[1, 1, 1, 1, 1],
               [1, 2, 2, 2, 1],
               [1, 2, 0, 2, 1],
               [1, 2, 2, 2, 1],
               [1, 1, 1, 1, 1]], np.float64) / 32.0
_G = [np.array(g, np.float64) / 16.0 for g in (
    [[0, 0, 0, 0, 0], [1, 3, 8, 3, 1], [0, 0, 0, 0, 0], [-1, -3, -8, -3, -1], [0, 0, 0, 0, 0]],
    [[0, 0, 1, 0, 0], [0, 8, 3, 0, 0], [1, 3, 0, -3, -1], [0, 0, -3, -8, 0], [0, 0, -1, 0, 0]],
    [[0, 0, 1, 0, 0], [0, 0, 3, 8, 0], [-1, -3, 0, 3, 1], [0, -8, -3, 0, 0], [0, 0, -1, 0, 0]],
    [[0, 1, 0, -1, 0], [0, 3, 0, -3, 0], [0, 8, 0, -8, 0], [0, 3, 0, -3, 0], [0, 1, 0, -1, 0]])]


def filter2d(img, k):
    """Correlation of a float plane with a small odd kernel, edge clamped."""
    r = k.shape[0] // 2
    p = np.pad(img, r, mode="edge")
    h, w = img.shape
    out = np.zeros((h, w), np.float64)
    for dy in range(k.shape[0]):
        for dx in range(k.shape[1]):
            if k[dy, dx] != 0:
                out += k[dy, dx] * p[dy:dy + h, dx:dx + w]
    return out


def jnd_threshold(y):
    """Per-pixel visibility threshold in luma levels."""
    f = y.astype(np.float64)
    bg = filter2d(f, _B)
    mg = np.max([np.abs(filter2d(f, g)) for g in _G], axis=0)
    # Luminance adaptation: high in dark areas, rising slowly in bright ones.
    la = np.where(bg <= 127, 17.0 * (1.0 - np.sqrt(bg / 127.0)) + 3.0,
                  3.0 / 128.0 * (bg - 127.0) + 3.0)
    # Contrast masking: grows with local gradient.
    cm = mg * (0.0001 * bg + 0.115) + (0.5 - 0.01 * bg)
    return np.maximum(la, cm)


def gaussian_kernel(sigma, radius=3):
    x = np.arange(-radius, radius + 1, dtype=np.float64)
    g = np.exp(-0.5 * (x / sigma) ** 2)
    g /= g.sum()
    return np.outer(g, g)


def jnd_target(y, sigma, strength):
    """Input with sub-threshold detail removed: the smoothed plane wherever
    it lies within strength x JND of the input, else the input moved by
    exactly strength x JND towards it.  Float, luma levels."""
    f = y.astype(np.float64)
    s = filter2d(f, gaussian_kernel(sigma))
    t = strength * jnd_threshold(y)
    return f + np.clip(s - f, -t, t)
