#!/usr/bin/python3
"""Runs the ONNX backend test cases through netrun and compares its outputs
with the cases' own.

Each case is a folder holding model.onnx and test_data_set_*/ with
input_N.pb and output_N.pb (serialised tensors); Debian's libonnx-testdata
installs them.  For every data set the inputs are written as .npy files,
netrun runs the model on the chosen device and its outputs are compared
with the expected ones (tolerances per device in tolerances.py).  One line
per case:

  NAME: passed
  NAME: failed (max abs err A, max rel err R)       or the reason netrun failed
  NAME: not supported (netrun's one-line reason)

and last exactly one line "N passed, N failed, N skipped" (a case netrun
refuses counts as skipped).  Exit status: 0 when no case failed, 1 when one
did, 2 on bad usage, 77 when python3-numpy, python3-onnx or
libonnx-testdata is missing.

Many node cases feed a weight (Conv's W, Gemm's C, Resize's scales) as a
graph input, which the engine takes only as a constant: when netrun says so,
the case runs again with that input made an initializer of the same value,
and its line says "(inputs given as constants: W)".  On --device cl the line
also says how many layers ran on the device (the engine runs a batch larger
than one, and shapes no device kernel fits, on the CPU), and a line before
the summary counts the passed cases that ran any layer there.

  run_conformance.py [--device cpu|cl] [--cases FILE | --all] [--netrun PATH]
                     [--persona NAME|none] [--data DIR] [-j N] [-v]
"""

import argparse
import concurrent.futures
import os
import re
import signal
import subprocess
import sys
import tempfile

import netrun_log
from netrun_log import EXIT_FAILED, EXIT_OK, EXIT_SKIP, EXIT_USAGE, NETRUN_EXIT_UNSUPPORTED

try:
    import numpy as np
    import onnx
    from onnx import numpy_helper

    import tolerances
except ImportError as missing:
    MISSING_MODULE = missing.name
else:
    MISSING_MODULE = None

CASE_FOLDERS = ("node", "pytorch-converted")
DEFAULT_DATA_DIR = "/usr/share/libonnx-testdata/data"
TESTDATA_PACKAGE = "libonnx-testdata"
NETRUN_TIMEOUT_S = 300

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))
DEFAULT_CASES = os.path.join(HERE, "claimed_cases.txt")
DEFAULT_NETRUN = os.path.join(REPO, "build", "default", "bin", "netrun")

MSG_MISSING_MODULE = ("onnx conformance: skipped: the Python module %s is missing "
                      "(Debian: python3-numpy, python3-onnx)")
MSG_NO_DATA = "onnx conformance: skipped: no ONNX test cases (install libonnx-testdata) under %s"
MSG_NO_NETRUN = ("onnx conformance: netrun not found at %s; build it "
                 "(cmake --build --preset default --target netrun) or pass --netrun PATH")
MSG_UNKNOWN_CASE = "onnx conformance: %s:%d: no test case %s under %s"
MSG_BAD_CASES = "onnx conformance: cannot read the case list %s: %s"
SUMMARY_FORMAT = "%d passed, %d failed, %d skipped"
DEVICE_SHARE_FORMAT = "%d of the %d passed cases ran at least one layer on the device"

PASSED, FAILED, SKIPPED = "passed", "failed", "skipped"

# netrun's reason when a graph input feeds an operand the engine holds as a
# constant (a weight, a bias, a shape operand).
CONSTANT_INPUT = re.compile(r"input '([^']+)' must be a constant")


def find_data_dir():
    """The folder holding node/ and pytorch-converted/: where the Debian
    package put it, else its usual place."""
    try:
        listing = subprocess.run(["dpkg", "-L", TESTDATA_PACKAGE], capture_output=True,
                                 text=True, check=False).stdout.splitlines()
        for line in listing:
            if line.endswith("/data/node"):
                return os.path.dirname(line)
    except OSError:
        pass
    return DEFAULT_DATA_DIR


def all_cases(data_dir):
    cases = []
    for folder in CASE_FOLDERS:
        root = os.path.join(data_dir, folder)
        if os.path.isdir(root):
            cases += [folder + "/" + c for c in sorted(os.listdir(root))
                      if os.path.isfile(os.path.join(root, c, "model.onnx"))]
    return cases


def read_case_list(path, data_dir):
    """Case names from a file, one per line ('#' starts a comment); a bare
    test_NAME is looked up in each case folder."""
    names = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            name = line.split("#", 1)[0].strip()
            if not name:
                continue
            candidates = [name] if "/" in name else [d + "/" + name for d in CASE_FOLDERS]
            found = [c for c in candidates
                     if os.path.isfile(os.path.join(data_dir, c, "model.onnx"))]
            if not found:
                raise LookupError(MSG_UNKNOWN_CASE % (path, number, name, data_dir))
            names.append(found[0])
    return names


def first_error_line(text, model_path):
    """netrun's one-line reason, without its program and model prefixes."""
    lines = [l.strip() for l in text.splitlines() if l.strip()]
    if not lines:
        return "no message"
    line = next((l for l in lines if l.startswith("netrun:")), lines[-1])
    for prefix in ("netrun: ", model_path + ": "):
        if line.startswith(prefix):
            line = line[len(prefix):]
    return line


def graph_inputs(model):
    initialised = {t.name for t in model.graph.initializer}
    return [vi for vi in model.graph.input if vi.name not in initialised]


def load_data_sets(case_dir):
    sets = []
    names = sorted(d for d in os.listdir(case_dir) if d.startswith("test_data_set_"))
    for d in names:
        folder = os.path.join(case_dir, d)

        def numbered(prefix):
            files = [f for f in os.listdir(folder) if f.startswith(prefix) and f.endswith(".pb")]
            return sorted(files, key=lambda f: int(f[len(prefix):-3]))

        inputs = [numpy_helper.to_array(onnx.load_tensor(os.path.join(folder, f)))
                  for f in numbered("input_")]
        outputs = [numpy_helper.to_array(onnx.load_tensor(os.path.join(folder, f)))
                   for f in numbered("output_")]
        sets.append((inputs, outputs))
    return sets


class Result:
    def __init__(self, status, detail="", on_device=0):
        self.status = status
        self.detail = detail
        self.on_device = on_device  # layers netrun ran on the OpenCL device

    def line(self, name):
        if self.status == PASSED:
            return "%s: passed%s" % (name, self.detail)
        if self.status == SKIPPED:
            return "%s: not supported (%s)" % (name, self.detail)
        return "%s: failed (%s)" % (name, self.detail)


def run_case(name, args):
    try:
        return run_case_checked(name, args)
    except Exception as e:  # one case's surprise must not end the run
        return Result(FAILED, "runner error: %s: %s" % (type(e).__name__, e))


def run_netrun(args, model_path, feeds, output_names, tmp):
    """One netrun run: feeds are (input name, array) pairs.  Returns the
    completed process (None past the time limit) and the output paths."""
    command = [args.netrun, model_path]
    for i, (name, value) in enumerate(feeds):
        path = os.path.join(tmp, "in%d.npy" % i)
        np.save(path, np.ascontiguousarray(value))
        command += ["--input", "%s=%s" % (name, path)]
    out_paths = []
    for i, name in enumerate(output_names):
        path = os.path.join(tmp, "out%d.npy" % i)
        if os.path.exists(path):
            os.remove(path)
        out_paths.append(path)
        command += ["--output", "%s=%s" % (name, path)]
    command += ["--device", args.device]
    if args.device == "cl" and args.persona != "none":
        command += ["--persona", args.persona]
    if args.verbose:
        print("  $ " + " ".join(command), flush=True)
    try:
        run = subprocess.run(command, capture_output=True, text=True, errors="replace",
                             timeout=NETRUN_TIMEOUT_S, cwd=tmp)
    except subprocess.TimeoutExpired:
        run = None
    return run, out_paths


def with_constants(model, values, path):
    """Writes the model with the named graph inputs turned into
    initializers holding the given values."""
    copy = onnx.ModelProto()
    copy.CopyFrom(model)
    kept = [vi for vi in copy.graph.input if vi.name not in values]
    del copy.graph.input[:]
    copy.graph.input.extend(kept)
    for name, value in values.items():
        copy.graph.initializer.append(numpy_helper.from_array(value, name))
    onnx.save(copy, path)


def run_feeding_constants(args, model, model_path, values, output_names, tmp):
    """Runs netrun on the model with the input values.  The engine holds
    weights and shape operands as constants; while netrun asks for a graph
    input as a constant, the run is repeated with that input turned into an
    initializer of the same value (the same computation).  Returns the last
    run (None past the time limit), its output paths, the model file it ran
    and the inputs given as constants."""
    constants = {}
    run_model = model_path
    while True:
        feeds = [(n, v) for n, v in values.items() if n not in constants]
        run, out_paths = run_netrun(args, run_model, feeds, output_names, tmp)
        if run is None or run.returncode != NETRUN_EXIT_UNSUPPORTED:
            return run, out_paths, run_model, constants
        wanted = CONSTANT_INPUT.search(run.stderr)
        if wanted is None or wanted.group(1) not in values or wanted.group(1) in constants:
            return run, out_paths, run_model, constants
        constants[wanted.group(1)] = values[wanted.group(1)]
        run_model = os.path.join(tmp, "model_with_constants.onnx")
        with_constants(model, constants, run_model)


def compare(args, model, feeds, output_names, out_paths, want_values, netrun_stdout):
    """None when every output is within the device's tolerance, else what
    went wrong (for the worst output)."""
    rtol = (tolerances.half_rtol(model, dict(feeds),
                                 netrun_log.accumulates_in_half(netrun_stdout))
            if args.device == "cl" else 0.0)
    worst = None
    for out_name, path, want in zip(output_names, out_paths, want_values):
        if not os.path.isfile(path):
            return (float("inf"), "netrun wrote no output %s" % out_name)
        try:
            got = np.load(path)
        except Exception as e:
            return (float("inf"), "output %s unreadable: %s" % (out_name, e))
        if got.shape != want.shape:
            return (float("inf"), "output %s has shape %s where %s is expected"
                    % (out_name, list(got.shape), list(want.shape)))
        max_abs, max_rel = tolerances.errors(got, want)
        if args.device == "cpu":
            ok = tolerances.within_cpu(got, want)
            detail = "max abs err %.3g, max rel err %.3g" % (max_abs, max_rel)
        else:
            ok = tolerances.within_half(got, want, rtol)
            scale = tolerances.magnitude(want)
            detail = ("max abs err %.3g, max rel err %.3g of max |want| %.3g, allowed %.3g"
                      % (max_abs, max_abs / scale if scale else max_abs, scale, rtol))
        if not ok and (worst is None or max_abs > worst[0]):
            worst = (max_abs, detail)
    return worst


def run_case_checked(name, args):
    case_dir = os.path.join(args.data, name)
    model_path = os.path.join(case_dir, "model.onnx")
    try:
        model = onnx.load(model_path)
    except Exception as e:  # a model the installed onnx cannot read
        return Result(SKIPPED, "runner: cannot load the model: %s" % e)
    inputs = graph_inputs(model)
    for vi in inputs:
        kind = vi.type.WhichOneof("value")
        if kind != "tensor_type":
            return Result(SKIPPED, "runner: input %s is of type %s; netrun takes tensors"
                          % (vi.name, kind.replace("_type", "")))
    output_names = [o.name for o in model.graph.output]
    try:
        sets = load_data_sets(case_dir)
    except Exception as e:
        return Result(SKIPPED, "runner: cannot read the test data: %s" % e)

    worst = None
    baked = {}
    on_device, layers = float("inf"), 0
    with tempfile.TemporaryDirectory(prefix="onnx_conf_") as tmp:
        for in_values, want_values in sets:
            if len(in_values) != len(inputs):
                return Result(SKIPPED, "runner: %d input files for %d graph inputs"
                              % (len(in_values), len(inputs)))
            values = dict(zip((vi.name for vi in inputs), in_values))
            for vi, value in zip(inputs, in_values):
                if value.dtype.kind in "OUS":
                    return Result(SKIPPED, "runner: input %s holds text" % vi.name)
            run, out_paths, run_model, constants = run_feeding_constants(
                args, model, model_path, values, output_names, tmp)
            if run is None:
                return Result(FAILED, "netrun ran past %d s" % NETRUN_TIMEOUT_S)
            baked.update(constants)
            if run.returncode == NETRUN_EXIT_UNSUPPORTED:
                return Result(SKIPPED, first_error_line(run.stderr, run_model))
            if run.returncode < 0:
                return Result(FAILED, "netrun crashed (%s)" % signal.Signals(-run.returncode).name)
            if run.returncode != 0:
                return Result(FAILED, "netrun exit %d: %s" % (
                    run.returncode, first_error_line(run.stderr + run.stdout, run_model)))
            ran_there, ran = netrun_log.layers_on_device(run.stdout)
            on_device = min(on_device, ran_there)
            layers = max(layers, ran)
            miss = compare(args, model, list(values.items()), output_names, out_paths,
                           want_values, run.stdout)
            if miss is not None and (worst is None or miss[0] > worst[0]):
                worst = miss
    notes = []
    if baked:
        notes.append("inputs given as constants: " + ", ".join(sorted(baked)))
    if args.device == "cl":
        notes.append("on the device: %d of %d layers" % (on_device if layers else 0, layers))
    note = " (%s)" % "; ".join(notes) if notes else ""
    if worst is not None:
        return Result(FAILED, worst[1] + note, on_device=on_device if layers else 0)
    return Result(PASSED, note, on_device=on_device if layers else 0)


def parse_args(argv):
    p = argparse.ArgumentParser(
        description="Runs the ONNX backend test cases through netrun and compares the outputs.")
    p.add_argument("--device", choices=("cpu", "cl"), default="cpu")
    which = p.add_mutually_exclusive_group()
    which.add_argument("--cases", metavar="FILE", default=DEFAULT_CASES,
                       help="case names, one per line (default: claimed_cases.txt)")
    which.add_argument("--all", action="store_true", help="every installed case")
    p.add_argument("--netrun", metavar="PATH", default=DEFAULT_NETRUN)
    p.add_argument("--persona", default="nvidia",
                   help="device persona for --device cl ('none' for the machine's own GPU)")
    p.add_argument("--data", metavar="DIR", help="the test data folder (default: from dpkg)")
    p.add_argument("-j", "--jobs", type=int, default=1, help="cases run at once (default 1)")
    p.add_argument("-v", "--verbose", action="store_true", help="print each netrun command")
    args = p.parse_args(argv)
    if args.jobs < 1:
        p.error("-j needs a count of at least 1")
    return args


def main(argv):
    args = parse_args(argv)
    if MISSING_MODULE is not None:
        print(MSG_MISSING_MODULE % MISSING_MODULE)
        return EXIT_SKIP
    args.data = args.data or find_data_dir()
    if not all_cases(args.data):
        print(MSG_NO_DATA % args.data)
        return EXIT_SKIP
    if not os.access(args.netrun, os.X_OK):
        print(MSG_NO_NETRUN % args.netrun, file=sys.stderr)
        return EXIT_USAGE
    args.netrun = os.path.abspath(args.netrun)
    if args.all:
        cases = all_cases(args.data)
    else:
        try:
            cases = read_case_list(args.cases, args.data)
        except LookupError as e:
            print(e.args[0], file=sys.stderr)
            return EXIT_USAGE
        except OSError as e:
            print(MSG_BAD_CASES % (args.cases, e.strerror), file=sys.stderr)
            return EXIT_USAGE

    counts = {PASSED: 0, FAILED: 0, SKIPPED: 0}
    device_passes = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for name, result in zip(cases, pool.map(lambda c: run_case(c, args), cases)):
            counts[result.status] += 1
            device_passes += result.status == PASSED and result.on_device > 0
            print(result.line(name), flush=True)
    if args.device == "cl":
        print(DEVICE_SHARE_FORMAT % (device_passes, counts[PASSED]))
    print(SUMMARY_FORMAT % (counts[PASSED], counts[FAILED], counts[SKIPPED]), flush=True)
    return EXIT_FAILED if counts[FAILED] else EXIT_OK


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
