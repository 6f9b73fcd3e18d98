#!/usr/bin/env python3
"""The fault soak's verdict on made-up logs: what counts as lost, damaged,
repeated or pulled out.   python3 scripts/soak_faults_test.py"""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import soak_faults  # noqa: E402

# One GPS run of 20 lines from 100000, every 9th corrupted (100008, 100017);
# 100002, 100009 and 100016 have no fix. The rest are valid.
RUN = "run 100000 9\nSensorSim: 20 lines written (20 $GPGGA sentences, 2 with a wrong checksum), 0 dropped\n"
VALID = [n for n in range(100000, 100020) if n not in (100002, 100008, 100009, 100016, 100017)]
LOST_DEVICE = "Vantor VANTOR_STATUS AppErrorFlag=true,AppErrorReason=lost serial device /x: End of file"


def value(n):
    return "Vantor Latitude %010.5f" % (n / soak_faults.GPS_SCALE)


class BridgeReportTest(unittest.TestCase):
    def verdict(self, events, runs=RUN):
        with tempfile.TemporaryDirectory() as work:
            for name, text in (("gps.err", runs), ("Vantor.err", "")):
                with open(os.path.join(work, name), "w") as f:
                    f.write(text)
            with open(os.path.join(work, "server-1.log"), "w") as f:
                f.writelines("1.0 %s\n" % e for e in events)
            row, faults, _ = soak_faults.bridge_report(work, 1, "Vantor", "gps", "Vantor", "Latitude")
        return row, faults

    def test_verdicts(self):
        without = lambda *gone: [value(n) for n in VALID if n not in gone]
        cases = [
            ("every valid line", without(), 0, 0, []),
            ("a valid line missing", without(100005), 1, 0, ["lost"]),
            ("no value at all", [], 0, 0, ["no value arrived"]),
            ("a corrupted line received", without() + [value(100017)], 0, 0, ["damaged", "order"]),
            ("a value twice", without()[:3] + [value(100001)] + without()[3:], 0, 0, ["twice"]),
            ("one line in the unplugged device",
             without(100005)[:4] + [LOST_DEVICE] + without(100005)[4:], 0, 1, []),
            ("two lines in the unplugged device: one is lost",
             without(100005, 100006)[:4] + [LOST_DEVICE] + without(100005, 100006)[4:], 1, 1,
             ["lost"]),
        ]
        for title, events, lost, pulled, faults in cases:
            with self.subTest(title):
                row, found = self.verdict(events)
                self.assertEqual((row["lost"], row["pulled"]), (lost, pulled))
                for fault in faults:
                    self.assertTrue(any(fault in f for f in found), found)
                if not faults:
                    self.assertEqual(found, [])

    def test_first_line_of_a_run_is_never_taken_as_pulled_out(self):
        runs = RUN + "run 100020 9\nSensorSim: 5 lines written (5 $GPGGA sentences), 0 dropped\n"
        events = [value(n) for n in VALID] + [LOST_DEVICE] + [value(n) for n in range(100021, 100025)]
        row, found = self.verdict(events, runs)
        self.assertEqual((row["lost"], row["pulled"]), (1, 0))
        self.assertTrue(found)

    def test_a_run_without_its_summary_is_a_fault_unless_it_is_the_last(self):
        for runs, faulty in ((RUN + "run 100020 9\n", False), ("run 100020 9\n" + RUN, True)):
            with self.subTest(runs=runs):
                _, found = self.verdict([value(n) for n in VALID], runs)
                self.assertEqual(any("summary" in f for f in found), faulty)


if __name__ == "__main__":
    unittest.main()
