#!/usr/bin/python3
"""Small real architectures built in PyTorch with fixed seeds, exported to
ONNX and run through netrun on the CPU and on OpenCL, against PyTorch's own
output.

Models (input shapes kept small so the whole run takes seconds):

  mobilenet_block   1x1 expansion, 3x3 depthwise, 1x1 projection, batch
                    norm and hard-swish (ReLU6 when netrun refuses
                    hard-swish; the line then says so), 1x3x32x32
  unet              two-level U-Net: 3x3 convs, max pooling, 2x2 strided
                    ConvTranspose upsampling, skip concatenations, 1x3x32x32
  resnet            stem, two residual blocks (one strided with a 1x1
                    projection), batch norm, global average pooling,
                    Flatten, Linear, 1x3x32x32
  jnd_set1          the perceptual filter's network with weight set 1
                    (read from jnd/jnd_weights_trained.cpp): 3x3 convs
                    1 -> 4 -> 4 -> 1 reading clamp-to-edge (replicate)
                    borders; ReLU with the 8-bit store's ceiling, i.e. clamp
                    to [0, 2], after conv1 and conv2; the output saturated
                    to [0, 1].  Float arithmetic: the filter's 8-bit rounding
                    of intermediates is not modelled.  1x1x64x64 of values in
                    video range (16..235)/255.
  jnd_set1_zero_border  the same network with zero padding, run in its
                    place where netrun refuses edge padding (the border
                    then differs from the filter's; the arithmetic is
                    checked).

Error: max|netrun - torch| / max|torch| over the output (one relative
figure per model that a near-zero value cannot blow up).  It must stay
within 1e-4 on the CPU and within the half-precision budget of
tolerances.py on OpenCL.

Output: one table row per model, then "N passed, N failed, N skipped" (a
model netrun refuses that has a fallback, or that is marked optional,
counts as skipped).  Exit 0 when nothing failed, 1 otherwise, 77 when
python3-torch or python3-onnx is missing.

  torch_models.py [--netrun PATH] [--device cpu|cl|both] [--persona NAME]
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile

import netrun_log
from netrun_log import EXIT_FAILED, EXIT_OK, EXIT_SKIP, EXIT_USAGE, NETRUN_EXIT_UNSUPPORTED

try:
    import numpy as np
    import onnx
    import torch

    import tolerances
except ImportError as missing:
    MISSING_MODULE = missing.name
else:
    MISSING_MODULE = None

NETRUN_TIMEOUT_S = 300
CPU_RELATIVE_LIMIT = 1e-4
OPSET = 13

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
DEFAULT_NETRUN = os.path.join(REPO, "build", "default", "bin", "netrun")
JND_WEIGHTS_SOURCE = os.path.join(REPO, "jnd", "jnd_weights_trained.cpp")
JND_SET_NAME = "kJndWeightSet1"

MSG_MISSING_MODULE = ("torch models: skipped: the Python module %s is missing "
                      "(Debian: python3-numpy, python3-onnx, python3-torch)")
MSG_NO_NETRUN = ("torch models: netrun not found at %s; build it "
                 "(cmake --build --preset default --target netrun) or pass --netrun PATH")
SUMMARY_FORMAT = "%d passed, %d failed, %d skipped"
ROW_FORMAT = "| %-21s | %-6s | %-9s | %-9s | %-9s | %-9s | %s |"


def jnd_weight_set(path, name):
    """The 36 + 4 + 144 + 4 + 36 + 4 values of one stored weight set, in
    stored order, read from the generated C++ table."""
    text = open(path, encoding="utf-8").read()
    match = re.search(r"JndWeightSetData\s+%s\s*=\s*\{(.*?)\n\};" % name, text, re.S)
    if match is None:
        raise LookupError("%s: no weight set %s" % (path, name))
    body = re.sub(r"//[^\n]*", "", match.group(1))
    values = [float(v) for v in re.findall(r"[-+]?\d+\.\d*(?:[eE][-+]?\d+)?(?=f)", body)]
    if len(values) != 228:
        raise LookupError("%s: %s holds %d values, 228 expected" % (path, name, len(values)))
    v = np.array(values, dtype=np.float32)
    return {"w1": v[0:36].reshape(4, 1, 3, 3), "b1": v[36:40],
            "w2": v[40:184].reshape(4, 4, 3, 3), "b2": v[184:188],
            "w3": v[188:224].reshape(1, 4, 3, 3), "b3": v[224:225]}


def build_models(torch):
    nn = torch.nn

    def randomise_norms(model, seed):
        # Batch norms with running statistics and affine terms away from
        # the identity, so that folding them is actually exercised.
        g = torch.Generator().manual_seed(seed)
        for m in model.modules():
            if isinstance(m, nn.BatchNorm2d):
                c = m.num_features
                m.running_mean.copy_(torch.randn(c, generator=g) * 0.2)
                m.running_var.copy_(torch.rand(c, generator=g) + 0.5)
                m.weight.data.copy_(torch.rand(c, generator=g) + 0.5)
                m.bias.data.copy_(torch.randn(c, generator=g) * 0.1)
        return model

    class MobileBlock(nn.Module):
        def __init__(self, act):
            super().__init__()
            self.expand = nn.Sequential(nn.Conv2d(3, 16, 1, bias=False), nn.BatchNorm2d(16), act())
            self.depthwise = nn.Sequential(nn.Conv2d(16, 16, 3, padding=1, groups=16, bias=False),
                                           nn.BatchNorm2d(16), act())
            self.project = nn.Sequential(nn.Conv2d(16, 8, 1, bias=False), nn.BatchNorm2d(8))

        def forward(self, x):
            return self.project(self.depthwise(self.expand(x)))

    def conv_relu(i, o):
        return nn.Sequential(nn.Conv2d(i, o, 3, padding=1), nn.ReLU())

    class UNet(nn.Module):
        def __init__(self):
            super().__init__()
            self.enc1 = nn.Sequential(conv_relu(3, 8), conv_relu(8, 8))
            self.enc2 = conv_relu(8, 16)
            self.bottom = conv_relu(16, 32)
            self.pool = nn.MaxPool2d(2)
            self.up2 = nn.ConvTranspose2d(32, 16, 2, stride=2)
            self.dec2 = conv_relu(32, 16)
            self.up1 = nn.ConvTranspose2d(16, 8, 2, stride=2)
            self.dec1 = conv_relu(16, 8)
            self.head = nn.Conv2d(8, 1, 1)

        def forward(self, x):
            e1 = self.enc1(x)
            e2 = self.enc2(self.pool(e1))
            b = self.bottom(self.pool(e2))
            d2 = self.dec2(torch.cat([self.up2(b), e2], dim=1))
            d1 = self.dec1(torch.cat([self.up1(d2), e1], dim=1))
            return self.head(d1)

    class Block(nn.Module):
        def __init__(self, i, o, stride):
            super().__init__()
            self.body = nn.Sequential(
                nn.Conv2d(i, o, 3, stride=stride, padding=1, bias=False), nn.BatchNorm2d(o),
                nn.ReLU(), nn.Conv2d(o, o, 3, padding=1, bias=False), nn.BatchNorm2d(o))
            self.skip = (nn.Identity() if stride == 1 and i == o else
                         nn.Sequential(nn.Conv2d(i, o, 1, stride=stride, bias=False),
                                       nn.BatchNorm2d(o)))
            self.relu = nn.ReLU()

        def forward(self, x):
            return self.relu(self.body(x) + self.skip(x))

    class ResNet(nn.Module):
        def __init__(self):
            super().__init__()
            self.stem = nn.Sequential(nn.Conv2d(3, 16, 3, padding=1, bias=False),
                                      nn.BatchNorm2d(16), nn.ReLU())
            self.blocks = nn.Sequential(Block(16, 16, 1), Block(16, 32, 2))
            self.pool = nn.AdaptiveAvgPool2d(1)
            self.flatten = nn.Flatten()
            self.fc = nn.Linear(32, 10)

        def forward(self, x):
            return self.fc(self.flatten(self.pool(self.blocks(self.stem(x)))))

    class Jnd(nn.Module):
        def __init__(self, weights, border):
            super().__init__()
            self.c1 = nn.Conv2d(1, 4, 3, padding=1, padding_mode=border)
            self.c2 = nn.Conv2d(4, 4, 3, padding=1, padding_mode=border)
            self.c3 = nn.Conv2d(4, 1, 3, padding=1, padding_mode=border)
            for conv, w, b in ((self.c1, "w1", "b1"), (self.c2, "w2", "b2"), (self.c3, "w3", "b3")):
                conv.weight.data.copy_(torch.from_numpy(weights[w]))
                conv.bias.data.copy_(torch.from_numpy(weights[b]))

        def forward(self, x):
            a1 = torch.clamp(self.c1(x), 0.0, 2.0)
            a2 = torch.clamp(self.c2(a1), 0.0, 2.0)
            return torch.clamp(self.c3(a2), 0.0, 1.0)

    def seeded(seed, make):
        torch.manual_seed(seed)
        return make()

    def image(seed, shape, low=-1.0, high=1.0):
        g = torch.Generator().manual_seed(seed)
        return torch.rand(*shape, generator=g) * (high - low) + low

    jnd = jnd_weight_set(JND_WEIGHTS_SOURCE, JND_SET_NAME)
    video = (16.0 / 255.0, 235.0 / 255.0)
    # (name, model, input, fallback name or None, may netrun refuse it)
    return [
        ("mobilenet_block", randomise_norms(seeded(1, lambda: MobileBlock(nn.Hardswish)), 11),
         image(101, (1, 3, 32, 32)), "mobilenet_block_relu6", True),
        ("mobilenet_block_relu6", randomise_norms(seeded(1, lambda: MobileBlock(nn.ReLU6)), 11),
         image(101, (1, 3, 32, 32)), None, False),
        ("unet", seeded(2, UNet), image(102, (1, 3, 32, 32)), None, False),
        ("resnet", randomise_norms(seeded(3, ResNet), 13), image(103, (1, 3, 32, 32)), None, False),
        ("jnd_set1", Jnd(jnd, "replicate"), image(104, (1, 1, 64, 64), *video),
         "jnd_set1_zero_border", True),
        ("jnd_set1_zero_border", Jnd(jnd, "zeros"), image(104, (1, 1, 64, 64), *video), None,
         False),
    ]


def run_netrun(netrun, model_path, x_path, y_path, device, persona):
    command = [netrun, model_path, "--input", "x=" + x_path, "--output", "y=" + y_path,
               "--device", device]
    if device == "cl" and persona != "none":
        command += ["--persona", persona]
    try:
        run = subprocess.run(command, capture_output=True, text=True, errors="replace",
                             timeout=NETRUN_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        return "failed", "ran past %d s" % NETRUN_TIMEOUT_S, ""
    lines = [l.strip() for l in run.stderr.splitlines() if l.strip()]
    reason = next((l for l in lines if l.startswith("netrun:")), lines[-1] if lines else "")
    reason = reason.replace("netrun: ", "", 1).replace(model_path + ": ", "", 1)
    if run.returncode == NETRUN_EXIT_UNSUPPORTED:
        return "refused", reason, run.stdout
    if run.returncode != 0:
        return "failed", "netrun exit %d: %s" % (run.returncode, reason), run.stdout
    return "ran", np.load(y_path), run.stdout


def main(argv):
    p = argparse.ArgumentParser(description="PyTorch models through netrun, against PyTorch.")
    p.add_argument("--netrun", metavar="PATH", default=DEFAULT_NETRUN)
    p.add_argument("--device", choices=("cpu", "cl", "both"), default="both")
    p.add_argument("--persona", default="nvidia",
                   help="device persona for cl ('none' for the machine's own GPU)")
    p.add_argument("--keep", metavar="DIR", help="keep the exported models and arrays here")
    args = p.parse_args(argv)
    if MISSING_MODULE is not None:
        print(MSG_MISSING_MODULE % MISSING_MODULE)
        return EXIT_SKIP
    if not os.access(args.netrun, os.X_OK):
        print(MSG_NO_NETRUN % args.netrun, file=sys.stderr)
        return EXIT_USAGE
    netrun = os.path.abspath(args.netrun)
    devices = ["cpu", "cl"] if args.device == "both" else [args.device]
    torch.set_num_threads(1)

    counts = {"passed": 0, "failed": 0, "skipped": 0}
    print("netrun %s; error = max|netrun - torch| / max|torch|; cpu limit %g, cl limit per model"
          % (netrun, CPU_RELATIVE_LIMIT))
    print(ROW_FORMAT % ("model", "device", "max abs", "rel err", "limit", "on device",
                        "result"))
    print(ROW_FORMAT % ("---", "---", "---", "---", "---", "---", "---"))
    with tempfile.TemporaryDirectory(prefix="torch_models_") as tmp:
        work = args.keep or tmp
        os.makedirs(work, exist_ok=True)
        skip_fallback = set()
        op_lines = []
        for name, model, x, fallback, may_refuse in build_models(torch):
            if name in skip_fallback:
                continue
            model.eval()
            model_path = os.path.join(work, name + ".onnx")
            x_path = os.path.join(work, name + "_x.npy")
            with torch.no_grad():
                want = model(x).numpy()
                # PRESERVE keeps the batch norms as their own nodes (an eval
                # export folds them into the convolutions before them).
                torch.onnx.export(model, x, model_path, opset_version=OPSET,
                                  training=torch.onnx.TrainingMode.PRESERVE,
                                  input_names=["x"], output_names=["y"])
            np.save(x_path, x.numpy())
            onnx_model = onnx.load(model_path)
            ops = sorted({n.op_type for n in onnx_model.graph.node})
            refused = None
            for device in devices:
                y_path = os.path.join(work, "%s_%s_y.npy" % (name, device))
                kind, got, log = run_netrun(netrun, model_path, x_path, y_path, device,
                                            args.persona)
                limit = (CPU_RELATIVE_LIMIT if device == "cpu" else
                         tolerances.half_rtol(onnx_model, {"x": x.numpy()},
                                              netrun_log.accumulates_in_half(log)))
                if kind == "refused":
                    refused = got
                    if not may_refuse:
                        counts["failed"] += 1
                        print(ROW_FORMAT % (name, device, "-", "-", "%.3g" % limit, "-",
                                            "failed: refused: " + got))
                    break
                if kind == "failed":
                    counts["failed"] += 1
                    print(ROW_FORMAT % (name, device, "-", "-", "%.3g" % limit, "-",
                                        "failed: " + got))
                    continue
                if got.shape != want.shape:
                    counts["failed"] += 1
                    print(ROW_FORMAT % (name, device, "-", "-", "%.3g" % limit, "-",
                                        "failed: shape %s, torch %s"
                                        % (list(got.shape), list(want.shape))))
                    continue
                max_abs = float(np.max(np.abs(got.astype(np.float64) - want)))
                scale = float(np.max(np.abs(want)))
                rel = max_abs / scale if scale else max_abs
                ok = rel <= limit
                counts["passed" if ok else "failed"] += 1
                there, ran = netrun_log.layers_on_device(log)
                print(ROW_FORMAT % (name, device, "%.3g" % max_abs, "%.3g" % rel, "%.3g" % limit,
                                    "%d of %d" % (there, ran) if device == "cl" else "-",
                                    "passed" if ok else "failed"), flush=True)
            if refused is not None and may_refuse:
                counts["skipped"] += 1
                note = ("; runs as %s instead" % fallback) if fallback else ""
                print(ROW_FORMAT % (name, "-", "-", "-", "-", "-",
                                    "not supported (%s)%s" % (refused, note)), flush=True)
            elif fallback:
                skip_fallback.add(fallback)
            op_lines.append("%s: ONNX operators %s" % (name, " ".join(ops)))
    print("\n".join(op_lines))
    print(SUMMARY_FORMAT % (counts["passed"], counts["failed"], counts["skipped"]))
    return EXIT_FAILED if counts["failed"] else EXIT_OK


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
