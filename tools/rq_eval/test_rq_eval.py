#!/usr/bin/python3
"""Checks of rq_eval's arithmetic and command-line refusals (no encoding).

    /usr/bin/python3 tools/rq_eval/test_rq_eval.py
"""

import contextlib
import io
import os
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

REF = [(1000.0, 30.0), (1500.0, 33.0), (2200.0, 36.0), (3000.0, 39.0)]


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

    def test_ssim_in_decibels(self):
        for ssim, db in ((0.9, 10.0), (0.99, 20.0), (0.999, 30.0), (1.0, 100.0)):
            with self.subTest(ssim=ssim):
                self.assertAlmostEqual(rq.ssim_db(ssim), db, places=6)


class CommandLine(unittest.TestCase):
    def run_main(self, argv):
        err = io.StringIO()
        with contextlib.redirect_stderr(err), contextlib.redirect_stdout(io.StringIO()):
            code = rq.main(argv)
        return code, err.getvalue()

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
                (["--out", d, "--exthost", os.path.join(d, "none")], "exthost not found at"),
                (["--out", d, "--report-only"], "no earlier results in"),
            ]
            for argv, text in rows:
                with self.subTest(argv=argv):
                    code, err = self.run_main(argv)
                    self.assertEqual(code, 1)
                    self.assertIn(text, err)

    def test_report_only_rewrites_table_and_plot(self):
        with tempfile.TemporaryDirectory() as d:
            rows = []
            for variant, scale, shift in (("unfiltered", 1.0, 0.0), ("jnd-set3", 0.8, 0.0)):
                for crf, (kbps, _) in zip(rq.CRFS, reversed(REF)):
                    q = 0.999 - (crf - 18) * 0.002
                    rows.append({"variant": variant, "crf": crf, "kbps": kbps * scale,
                                 "ssim_y": q, "ssim_all": q, "psnr_y": 50.0 - crf + shift,
                                 "psnr_all": 50.0 - crf + shift})
            rq.write_outputs(rows, ["unfiltered", "jnd-set3"], (64, 48, 25.0, 10), "test", d)
            os.remove(os.path.join(d, "rq.md"))
            code, _ = self.run_main(["--out", d, "--report-only"])
            self.assertEqual(code, 0)
            with open(os.path.join(d, "rq.md")) as f:
                table = f.read()
            self.assertIn("| jnd-set3 | -20.0 % | -20.0 % | -20.0 % |", table)
            self.assertTrue(os.path.getsize(os.path.join(d, "rq.png")) > 1000)


if __name__ == "__main__":
    unittest.main()
