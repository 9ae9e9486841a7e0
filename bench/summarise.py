#!/usr/bin/python3
"""Summary of one bench/run_all.sh run: the figures the README shows and the
gap to each speed target.  Usage: bench/summarise.py OUT_DIR"""

import json
import os
import platform
import re
import sys

MACS_PER_PIXEL = 216
TARGET_MS = 10.0          # whole per-frame path at 1280x720
TARGET_VS_CPU = 20.0      # times faster than the single-thread C++ evaluation
TARGET_VS_HQDN3D = 5.0    # at most this many times hqdn3d's time per frame

SIZES = ["640x360", "1280x720", "720x1280", "1920x1080"]
# The 16-bit multiply-add form (bench_fma_peak) each CPU filter path's
# arithmetic uses; the plain path is read against the SSE2 form, the widest
# every x86-64 processor has.
PATH_FORMS = {"avx512vnni": "avx512vnni", "avx512": "avx512bw", "avx2": "avx2", "scalar": "sse2"}
FORM_TEXT = {"avx512vnni": "vpdpwssd zmm", "avx512bw": "vpmaddwd+vpaddd zmm",
             "avx2": "vpmaddwd+vpaddd ymm", "sse2": "pmaddwd+paddd xmm"}
PATH_ORDER = ["scalar", "avx2", "avx512", "avx512vnni"]
# bench_engine_conv's path argument (engine::simd::ConvPath) -> its name.
CONV_PATHS = ["plain", "wide128", "avx2", "avx512"]
UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def load(out, name):
    """name -> record of one benchmark: the median of its repetitions
    (Google Benchmark's aggregate), or its only run without repetitions."""
    path = os.path.join(out, name + ".json")
    if not os.path.exists(path):
        return {}
    with open(path) as f:
        data = json.load(f)
    runs, medians = {}, {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        key = b.get("run_name", b["name"])
        if b.get("run_type", "iteration") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[key] = b
        else:
            runs.setdefault(key, b)
    runs.update(medians)
    return runs


def reps_of(out, name):
    path = os.path.join(out, name + ".json")
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        return 0
    counts = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type", "iteration") == "iteration" and not b.get("error_occurred"):
            key = b.get("run_name", b["name"])
            counts[key] = counts.get(key, 0) + 1
    return max(counts.values()) if counts else 0


def ms(b, field="real_time"):
    return b[field] * UNIT_MS[b.get("time_unit", "ns")]


def cpu_name():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def size_key(w, h):
    s = "%sx%s" % (w, h)
    return SIZES.index(s) if s in SIZES else len(SIZES)


def pct(x):
    return "%.1f %%" % (100.0 * x)


def read_peers(out):
    """(name, threads) -> (wall ms, cpu ms, luma share ms)."""
    peers = {}
    try:
        with open(os.path.join(out, "peers.txt")) as f:
            for line in f:
                m = re.match(r"peer (\S+) threads:(\d+) wall ([0-9.]+) ms/frame cpu ([0-9.]+) ms/frame "
                             r"luma_share ([0-9.]+) ms/frame", line)
                if m:
                    peers[(m.group(1), int(m.group(2)))] = (
                        float(m.group(3)), float(m.group(4)), float(m.group(5)))
    except OSError:
        pass
    return peers


def main(out):
    fma = load(out, "bench_fma_peak")
    jnd = load(out, "bench_jnd")
    cpu = load(out, "bench_jnd_cpu")
    peers = read_peers(out)
    reps = max(reps_of(out, n) for n in ("bench_fma_peak", "bench_jnd", "bench_jnd_cpu"))

    # Peaks of this run: float FMA (GFLOP/s) and 16-bit multiply-add forms
    # (GMAC/s), on one thread ("1") and on all ("all").
    fpeak, ipeak, fpeak512 = {}, {}, {}
    for n, b in fma.items():
        m = re.match(r"BM_FmaPeak512/threads:(\d+)", n)
        if m:
            fpeak512["1" if m.group(1) == "1" else "all"] = b["GFLOPs"]
        m = re.match(r"BM_FmaPeak/threads:(\d+)", n)
        if m:
            fpeak["1" if m.group(1) == "1" else "all"] = b["GFLOPs"]
        m = re.match(r"BM_Int16MaddPeak/(\w+)/threads:(\d+)", n)
        if m:
            ipeak[(m.group(1), "1" if m.group(2) == "1" else "all")] = (b["GMACs"], int(b.get("threads", 0)))

    load_text = "load average unknown"
    try:
        with open(os.path.join(out, "load.txt")) as f:
            load_text = "; ".join(l.strip() for l in f if l.strip())
    except OSError:
        try:
            load_text = "load average %.1f at the end of the run" % os.getloadavg()[0]
        except OSError:
            pass
    lines = ["Machine: %s, %d logical cores, %s." % (cpu_name(), os.cpu_count() or 0, platform.platform()),
             "Load: %s." % load_text, "",
             "Every figure is the median of %d repetitions (Google Benchmark's aggregate; FFmpeg: "
             "median of paired runs, bench/peers.sh)." % reps, ""]

    if fpeak or ipeak:
        lines += ["Measured multiply-add peaks (bench_fma_peak, same run):", "",
                  "| Arithmetic | 1 thread | all threads |", "|---|---|---|"]
        if fpeak:
            lines.append("| float FMA, 256-bit (GFLOP/s) | %.1f | %.1f |" % (fpeak.get("1", 0), fpeak.get("all", 0)))
        if fpeak512:
            lines.append("| float FMA, 512-bit (GFLOP/s) | %.1f | %.1f |" % (
                fpeak512.get("1", 0), fpeak512.get("all", 0)))
        for form in ["avx512vnni", "avx512bw", "avx2", "sse2"]:
            if (form, "1") in ipeak or (form, "all") in ipeak:
                lines.append("| 16-bit %s (G multiply-adds/s) | %.1f | %.1f |" % (
                    FORM_TEXT[form], ipeak.get((form, "1"), (0, 0))[0], ipeak.get((form, "all"), (0, 0))[0]))
        lines.append("")
    # The float paths' reference, as before: the larger of the two float
    # peaks (on shared cores the all-core figure can fall below one core's).
    fbest = max(fpeak.values()) if fpeak else None

    lines += ["Wall time per frame is what the targets are about; CPU time (all threads) shows the "
              "work a frame costs when other programs share the cores.  G multiply-adds/s count "
              "%d per pixel; 'of peak' is against the peak of the arithmetic the path uses "
              "(named in brackets) on as many threads as it ran." % MACS_PER_PIXEL, "",
              "| Path | Threads | Frame | wall ms/frame | fps | G multiply-adds/s | of peak | CPU ms/frame | "
              "conv1 / conv2 / conv3 ms | other ms |",
              "|---|---|---|---|---|---|---|---|---|---|"]

    rows = []  # (group, size order, sub order, text)
    ours720 = ours720_cpu = None
    for name, b in jnd.items():
        m = re.search(r"w:(\d+)/h:(\d+)", name)
        if not m:
            continue
        t = ms(b)
        if m.group(1) == "1280" and m.group(2) == "720":
            ours720, ours720_cpu = t, b.get("cpu_ms")
        rows.append((0, size_key(m.group(1), m.group(2)), 0,
                     "| JND filter, OpenCL (%s) | device | %sx%s | %.1f | %.1f | %.2f | %s | %.1f | "
                     "%.1f / %.1f / %.1f | %.1f |" % (
                         b.get("label", "").split(",")[0], m.group(1), m.group(2), t, 1000.0 / t,
                         b["GFLOPs"] / 2, "%s (float FMA)" % pct(b["GFLOPs"] / fbest) if fbest else "-",
                         b.get("cpu_ms", 0), b.get("conv1_ms", 0), b.get("conv2_ms", 0),
                         b.get("conv3_ms", 0), b.get("other_ms", 0))))

    cpu720 = cpu720_cpu = None
    filt720 = {}  # (path, threads) -> (wall ms, cpu ms)
    for name, b in cpu.items():
        m = re.search(r"w:(\d+)/h:(\d+)", name)
        if not m:
            continue
        t, cpu_t = ms(b), ms(b, "cpu_time")
        w, h = m.group(1), m.group(2)
        f = re.match(r"BM_JndCpuFilter/(\w+)/threads:(\d+)/", name)
        if f:
            path, threads = f.group(1), int(f.group(2))
            form = PATH_FORMS.get(path)
            peak = ipeak.get((form, "1" if threads == 1 else "all")) if form else None
            gmacs = b.get("GMACs", b["GFLOPs"] / 2)
            if w == "1280" and h == "720":
                filt720[(path, threads)] = (t, cpu_t)
            order = PATH_ORDER.index(path) if path in PATH_ORDER else len(PATH_ORDER)
            rows.append((1, size_key(w, h), order * 100 + threads,
                         "| JND filter, CPU, %s | %d | %sx%s | %.2f | %.1f | %.2f | %s | %.2f | - | - |" % (
                             path, threads, w, h, t, 1000.0 / t, gmacs,
                             "%s (%s)" % (pct(gmacs / peak[0]), FORM_TEXT[form]) if peak else "-", cpu_t)))
            continue
        plain = "Plain" in name
        if plain and w == "1280" and h == "720":
            cpu720, cpu720_cpu = t, cpu_t
        one = fpeak.get("1")
        rows.append((2 if plain else 3, size_key(w, h), 0,
                     "| JND network, %s | 1 | %sx%s | %.1f | %.2f | %.2f | %s | %.1f | - | - |" % (
                         "plain C++" if plain else "test reference (double)", w, h, t, 1000.0 / t,
                         b["GFLOPs"] / 2, "%s (float FMA)" % pct(b["GFLOPs"] / one) if one else "-", cpu_t)))

    for (name, threads), (t, c, luma) in peers.items():
        order = {"hqdn3d": 0, "hqdn3d=8:6:12:9": 1, "nlmeans": 2}.get(name, 3)
        rows.append((4, size_key(1280, 720), order * 100 + threads,
                     "| FFmpeg %s, 4:2:0 frame, all 3 planes (luma plane's share of the CPU time: %.2f ms) "
                     "| %d | 1280x720 | %.2f | %.0f | - | - | %.2f | - | - |" % (
                         name, luma, threads, t, 1000.0 / t if t > 0 else float("inf"), c)))
    lines += [r[3] for r in sorted(rows, key=lambda r: r[:3])]

    hq1 = peers.get(("hqdn3d", 1))
    hqn = max(((k[1], v) for k, v in peers.items() if k[0] == "hqdn3d" and k[1] > 1), default=None)

    lines += ["", "Targets at 1280x720 (wall time; CPU time in brackets):", ""]
    if ours720:
        lines += ["OpenCL path on this machine's device:", ""]
        lines.append("- whole per-frame path <= %.0f ms: %.1f ms, %.1fx over the target (CPU %.1f ms)." %
                     (TARGET_MS, ours720, ours720 / TARGET_MS, ours720_cpu or 0))
        if cpu720:
            lines.append("- >= %.0fx the single-thread C++ evaluation (%.1f ms): %.2fx (CPU time: %.2fx)." %
                         (TARGET_VS_CPU, cpu720, cpu720 / ours720,
                          (cpu720_cpu / ours720_cpu) if ours720_cpu else 0))
        if hqn:
            n, (t, c, _) = hqn
            lines.append("- within %.0fx of hqdn3d (%d threads, %.2f ms): %.1fx its time (CPU time: %.1fx)." %
                         (TARGET_VS_HQDN3D, n, t, ours720 / t, (ours720_cpu / c) if ours720_cpu and c else 0))
        lines.append("")
    if filt720:
        for label, pick in (("all threads", lambda k: k[1] > 1), ("one thread", lambda k: k[1] == 1)):
            cands = [(v[0], k) for k, v in filt720.items() if pick(k)]
            if not cands:
                continue
            t, (path, threads) = min(cands)
            c = filt720[(path, threads)][1]
            lines += ["CPU filter, fastest path on %s (%s, %d thread%s):" % (
                label, path, threads, "" if threads == 1 else "s"), ""]
            lines.append("- whole per-frame path <= %.0f ms: %.2f ms (%s; CPU %.2f ms)." % (
                TARGET_MS, t, "%.1fx over the target" % (t / TARGET_MS) if t > TARGET_MS
                else "%.1fx under the target" % (TARGET_MS / t), c))
            if cpu720:
                lines.append("- >= %.0fx the single-thread C++ evaluation (%.1f ms): %.1fx (CPU time: %.1fx)." %
                             (TARGET_VS_CPU, cpu720, cpu720 / t, (cpu720_cpu / c) if c else 0))
            hq = hq1 if threads == 1 else (hqn[1] if hqn else None)
            if hq:
                lines.append("- within %.0fx of hqdn3d (%s, %.2f ms): %.2fx its time (CPU time: %.2fx)." %
                             (TARGET_VS_HQDN3D, "1 thread" if threads == 1 else "%d threads" % hqn[0],
                              hq[0], t / hq[0], (c / hq[1]) if hq[1] else 0))
            lines.append("")

    conv = load(out, "bench_engine_conv")
    # The convolution paths are read against the widest float peak the core
    # has: a narrower path cannot reach it, which is the point of the column.
    peak_one = max([p for p in (fpeak.get("1"), fpeak512.get("1")) if p] or [0]) or None
    if conv:
        lines += ["Engine 3x3 convolution (stride 1, pad 1), simd::Conv on each CPU path on one thread and "
                  "cl::Conv on the OpenCL device (kernel time from OpenCL profiling); 'of one-core peak' is "
                  "against the widest float FMA peak measured on 1 thread (%s)." % (
                      "%.1f GFLOP/s, %s" % (peak_one, "512-bit" if fpeak512.get("1") == peak_one else "256-bit")
                      if peak_one else "not measured"), "",
                  "| Layer | Tensor | GFLOP/s | of one-core peak | placement |", "|---|---|---|---|---|"]
        conv_rows = []
        for name, b in conv.items():
            m = re.search(r"h:(\d+)/w:(\d+)/c:(\d+)", name)
            if not m:
                continue
            p = re.search(r"path:(\d+)", name)
            order = int(p.group(1)) if p else len(CONV_PATHS)
            if name.startswith("BM_Cl"):
                layer = "cl::Conv"
            else:
                layer = "simd::Conv, %s" % (CONV_PATHS[order] if order < len(CONV_PATHS) else "?")
            conv_rows.append(((int(m.group(1)), order), "| %s | %sx%sx%s | %.2f | %s | %s |" % (
                layer, m.group(1), m.group(2), m.group(3), b.get("GFLOP", 0),
                pct(b.get("GFLOP", 0) / peak_one) if peak_one else "-", b.get("label", ""))))
        lines += [r[1] for r in sorted(conv_rows)]
        if peak_one:
            lines += ["", "The float peak is measured in wall time, the convolution paths in CPU time, so a "
                      "loaded machine lowers the peak more than the paths."]
    print("\n".join(lines))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "build/default/bench-results")
