#!/usr/bin/python3
"""Checks of rq_eval's arithmetic and command-line refusals (no encoding).

    /usr/bin/python3 tools/rq_eval/test_rq_eval.py
"""

import contextlib
import csv
import io
import os
import shutil
import subprocess
import tempfile
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
# The tool is a script without a .py suffix: load it as a module by hand.
_path = os.path.join(HERE, "rq_eval")
rq = types.ModuleType("rq_eval")
rq.__file__ = _path
with open(_path) as _f:
    exec(compile(_f.read(), _path, "exec"), rq.__dict__)

DEFAULT_EXTHOST = os.path.join(os.path.dirname(os.path.dirname(HERE)), "build", "default", "bin",
                               "exthost")
REF = [(1000.0, 30.0), (1500.0, 33.0), (2200.0, 36.0), (3000.0, 39.0)]


def run_main(argv):
    """rq_eval's main with its output captured: (exit status, standard error)."""
    err = io.StringIO()
    with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
        code = rq.main(argv)
    return code, err.getvalue()


class BdRate(unittest.TestCase):
    def test_cases(self):
        rows = [
            # (test curve, expected BD-rate in per cent)
            (REF, 0.0),
            ([(r * 0.8, q) for r, q in REF], -20.0),
            ([(r * 1.5, q) for r, q in REF], 50.0),
            # Same rates, one dB better everywhere: fewer bits for equal quality.
            ([(r, q + 1.0) for r, q in REF[:3]] + [(3000.0, 40.0)], None),
        ]
        for test, expected in rows[:3]:
            with self.subTest(expected=expected):
                self.assertAlmostEqual(rq.bd_rate(REF, test), expected, places=6)
        better = rq.bd_rate(REF, rows[3][0])
        self.assertLess(better, 0.0)

    def test_no_overlap_gives_none_and_says_where(self):
        low = [(r, q - 20.0) for r, q in REF]
        self.assertIsNone(rq.bd_rate(REF, low))
        self.assertEqual(rq.fmt_bd(None, low, REF), "n/a: best 19.00 dB < lowest unfiltered 30.00 dB")
        high = [(r, q + 20.0) for r, q in REF]
        self.assertEqual(rq.fmt_bd(None, high, REF), "n/a: lowest 50.00 dB > best unfiltered 39.00 dB")
        self.assertEqual(rq.fmt_bd(-3.04), "-3.0 %")

    def test_quality_axes_in_decibels(self):
        rows = [(rq.ssim_db, 0.9, 10.0), (rq.ssim_db, 0.99, 20.0), (rq.ssim_db, 0.999, 30.0),
                (rq.ssim_db, 1.0, 100.0), (rq.distance_db, 1.0, 0.0), (rq.distance_db, 0.1, 10.0),
                (rq.distance_db, 0.01, 20.0), (rq.distance_db, 10.0, -10.0)]
        for fn, value, db in rows:
            with self.subTest(fn=fn.__name__, value=value):
                self.assertAlmostEqual(fn(value), db, places=6)


class MetricOutput(unittest.TestCase):
    def test_parse(self):
        # Outputs as the Debian libjxl-devtools programs print them.
        self.assertEqual(rq.parse_butteraugli("7.1773042679\n3-norm: 2.516689\n"),
                         (7.1773042679, 2.516689))
        self.assertEqual(rq.parse_ssimulacra("0.05371845\n"), 0.05371845)
        for text in ("", "3-norm: 2.5\n", "error\n"):
            with self.subTest(text=text):
                with self.assertRaises(rq.ToolError):
                    rq.parse_butteraugli(text)

    def test_summary_means_and_share_below_one(self):
        frames = [{"ba_max": 0.5, "ba_3norm": 0.2, "ssimulacra": 0.01},
                  {"ba_max": 1.5, "ba_3norm": 0.6, "ssimulacra": 0.03},
                  {"ba_max": 0.9, "ba_3norm": 0.4, "ssimulacra": 0.02},
                  {"ba_max": 1.0, "ba_3norm": 0.4, "ssimulacra": 0.02}]
        self.assertEqual(rq.summarise(frames, ["butteraugli", "ssimulacra"]),
                         {"ba_max": 0.975, "ba_3norm": 0.4, "ba_below1": 0.5, "ssimulacra": 0.02})
        self.assertEqual(rq.summarise(frames, ["ssimulacra"]),
                         {"ba_max": "not installed", "ba_3norm": "not installed",
                          "ba_below1": "not installed", "ssimulacra": 0.02})


class Y4mFrames(unittest.TestCase):
    def test_split_into_frames(self):
        with tempfile.TemporaryDirectory() as d:
            clip = os.path.join(d, "c.y4m")
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc2=size=16x8:rate=25", "-frames:v", "3", "-pix_fmt", "yuv420p",
                            clip], check=True)
            header, frames = rq.y4m_frames(clip)
        self.assertTrue(header.startswith(b"YUV4MPEG2 W16 H8 "))
        self.assertEqual([len(f) for f in frames], [len(b"FRAME\n") + 16 * 8 * 3 // 2] * 3)
        self.assertTrue(all(f.startswith(b"FRAME") for f in frames))


class CommandLine(unittest.TestCase):

    def test_refusals(self):
        with tempfile.TemporaryDirectory() as d:
            bad = os.path.join(d, "bad.y4m")
            with open(bad, "w") as f:
                f.write("not a video\n")
            rows = [
                (["/no/such/clip.y4m", "--out", d], "clip not found: /no/such/clip.y4m"),
                ([bad, "--out", d, "--exthost", "/bin/true"], "not a readable video clip: " + bad),
                (["--out", d, "--models", "5"], "--models needs weight sets from 1..4"),
                (["--out", d, "--size", "big"], "--size needs WxH"),
                (["--out", d, "--pan", "8x8"], "--pan needs an image as CLIP"),
                (["--out", d, "--peers", "median"], "--peers takes hqdn3d,hqdn3d-strong,nlmeans or none"),
                (["--out", d, "--every", "0"], "--every and --jobs need a positive number"),
                (["--out", d, "--exthost", os.path.join(d, "none")], "exthost not found at"),
                (["--out", d, "--report-only"], "no earlier results in"),
            ]
            for argv, text in rows:
                with self.subTest(argv=argv):
                    code, err = run_main(argv)
                    self.assertEqual(code, 1)
                    self.assertIn(text, err)

    def test_report_only_rewrites_table_and_plot(self):
        with tempfile.TemporaryDirectory() as d:
            rows = []
            for variant, scale in (("unfiltered", 1.0), ("jnd-set3", 0.8)):
                rows.append({"stage": "filter", "variant": variant, "crf": "", "kbps": "",
                             "ssim_y": 0.99, "ssim_all": 0.99, "psnr_y": 40.0, "psnr_all": 40.0,
                             "ba_max": 0.8, "ba_3norm": 0.3, "ba_below1": 0.75,
                             "ssimulacra": "not installed"})
                for crf, (kbps, _) in zip(rq.CRFS, reversed(REF)):
                    q = 0.999 - (crf - 18) * 0.002
                    rows.append({"stage": "encode", "variant": variant, "crf": crf,
                                 "kbps": kbps * scale, "ssim_y": q, "ssim_all": q,
                                 "psnr_y": 50.0 - crf, "psnr_all": 50.0 - crf,
                                 "ba_max": crf / 10.0, "ba_3norm": crf / 30.0, "ba_below1": 0.0,
                                 "ssimulacra": "not installed"})
            meta = {"label": "test", "width": 64, "height": 48, "fps": 25.0, "frames": 10,
                    "variants": ["unfiltered", "jnd-set3"], "every": 5, "metric_frames": [0, 5],
                    "matrix": "bt601", "range": "tv"}
            rq.write_outputs(rows[1:], meta, d)
            os.remove(os.path.join(d, "rq.md"))
            code, _ = run_main(["--out", d, "--report-only"])
            self.assertEqual(code, 0)
            with open(os.path.join(d, "rq.md")) as f:
                table = f.read()
            self.assertIn("| jnd-set3 | 0.80 | 0.300 | not installed | 75 % | 40.00 dB | -20.0 % "
                          "| -20.0 % | -20.0 % | not installed |", table)
            self.assertIn("| jnd-set3 | -20.0 % | -20.0 % | -20.0 % | -20.0 % | not installed |",
                          table)
            self.assertTrue(os.path.getsize(os.path.join(d, "rq.png")) > 1000)


@unittest.skipUnless(os.access(DEFAULT_EXTHOST, os.X_OK), "exthost not built")
class MissingMetricTools(unittest.TestCase):
    """A metric whose program is not on PATH reads 'not installed'; the rest
    still runs.  PATH holds only links to the programs each row keeps."""

    def test_rows(self):
        rows = [
            # (programs on PATH besides ffmpeg/ffprobe, butteraugli measured, ssimulacra measured)
            ((), False, False),
            (("butteraugli_main",), True, False),
        ]
        with tempfile.TemporaryDirectory() as d:
            clip = os.path.join(d, "clip.y4m")
            subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc2=size=64x48:rate=25", "-frames:v", "4", "-pix_fmt", "yuv420p",
                            clip], check=True)
            for keep, ba, ssimu in rows:
                if any(shutil.which(p) is None for p in keep):
                    continue
                with self.subTest(keep=keep):
                    bindir = os.path.join(d, "bin_%d" % len(keep))
                    os.makedirs(bindir)
                    for prog in ("ffmpeg", "ffprobe") + keep:
                        os.symlink(shutil.which(prog), os.path.join(bindir, prog))
                    out = os.path.join(d, "out_%d" % len(keep))
                    old = os.environ["PATH"]
                    os.environ["PATH"] = bindir
                    try:
                        code, err = run_main([clip, "--out", out, "--models", "3",
                                                                "--peers", "none", "--every", "2"])
                    finally:
                        os.environ["PATH"] = old
                    self.assertEqual(code, 0, err)
                    with open(os.path.join(out, "rq.csv")) as f:
                        got = list(csv.DictReader(f))
                    self.assertEqual(len(got), 1 + 2 * len(rq.CRFS))
                    for r in got:
                        for col, measured in (("ba_3norm", ba), ("ba_max", ba), ("ssimulacra", ssimu)):
                            self.assertEqual(r[col] == "not installed", not measured, (r, col))
                            if measured:
                                self.assertGreaterEqual(float(r[col]), 0.0)


if __name__ == "__main__":
    unittest.main()
