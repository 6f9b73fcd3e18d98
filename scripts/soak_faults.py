#!/usr/bin/env python3
"""The fault soak's device lines and its report (see scripts/soak.sh --faults).

  soak_faults.py lines WORK LINES_PER_SLICE SLICES
      writes WORK/gps.NNN.txt and WORK/compass.NNN.txt, one a SensorSim run:
      numbered device lines with valid checksums; every NO_FIX-th GPS line
      has no fix.
  soak_faults.py report WORK LIVES
      reads the SensorSim runs' records and summaries, the server's logs and
      the bridges' traces; prints the report; exits 1 on any loss, any
      damaged or repeated value, or sums that do not add up.

Every line carries a number of its own, so each value at the server names
the line it came from. A line is damaged when SensorSim gave it a wrong
checksum (the k-th line of a run, k a multiple of its --corrupt N) or when it
is a GPS sentence without a fix; neither may reach the server.
"""
import glob
import os
import re
import sys

FIRST = 100000
NO_FIX = 7


def checksummed(body):
    total = 0
    for c in body:
        total ^= ord(c)
    return "$%s*%02X" % (body, total)


# A GPS line's number is its latitude in minutes, scaled down so that any
# line of a day's soak is a latitude a receiver can send ("0009.65200": 0°,
# below 10').
GPS_SCALE = 100000.0


def gps_line(number):
    fix = 0 if number % NO_FIX == 0 else 1
    latitude = "%010.5f" % (number / GPS_SCALE)
    return checksummed("GPGGA,120000.00,%s,N,01131.000,E,%d,08,0.9,545.4,M,46.9,M,," % (latitude, fix))


def number_of(value, sensor):
    """The number of the line a value came from."""
    return int(round(float(value) * (GPS_SCALE if sensor == "gps" else 1)))


def compass_line(number):
    return checksummed("C%dP1.5R-0.5T21.0" % number)


def write_lines(work, per_slice, slices):
    for sensor, make in (("gps", gps_line), ("compass", compass_line)):
        for s in range(slices):
            first = FIRST + s * per_slice
            with open(os.path.join(work, "%s.%03d.txt" % (sensor, s)), "w") as f:
                for number in range(first, first + per_slice):
                    f.write(make(number) + "\n")


SUMMARY = re.compile(r"^SensorSim: (\d+) lines written.*?(?:, (\d+) with a wrong checksum)?\), (\d+) dropped$")


def segments(work, sensor):
    """Numbers made, those SensorSim corrupted, corrupted as it counted them,
    dropped, the runs that ended, and what is wrong with the runs' records.

    Each run's standard error starts with "run FIRST EVERY" from the soak; a
    run stopped before it started has no summary and made nothing, which
    only the last may be."""
    runs = []
    with open(os.path.join(work, sensor + ".err")) as f:
        for line in f:
            if line.startswith("run "):
                runs.append([line.split()[1:], None])
            elif SUMMARY.match(line.strip()) and runs:
                runs[-1][1] = SUMMARY.match(line.strip())
    made, corrupt, counted, dropped = [], set(), 0, 0
    for (first, every), m in runs:
        if m is None:
            continue
        numbers = range(int(first), int(first) + int(m.group(1)) + int(m.group(3)))
        made.extend(numbers)
        corrupt.update(n for k, n in enumerate(numbers, 1) if k % int(every) == 0)
        counted += int(m.group(2) or 0)
        dropped += int(m.group(3))
    ended = sum(m is not None for _, m in runs)
    wrong = any(m is None for _, m in runs[:-1])
    firsts = {int(first) for (first, _), _ in runs}
    return made, corrupt, counted, dropped, ended, wrong, firsts


def values(work, lives, source, key, sensor):
    """(life, number) of every value the server logged from source under key, in order."""
    out = []
    for life in range(1, lives + 1):
        with open(os.path.join(work, "server-%d.log" % life)) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 4 and fields[1] == source and fields[2] == key:
                    out.append((life, number_of(fields[3], sensor)))
    return out


def pulled_out(work, lives, source, key, sensor, valid, seen, firsts):
    """Valid lines still in the device when it was pulled out: the bridge's
    status said the device was lost between two of its values, and the first
    valid line after the earlier value never came. A hang-up throws away what
    the reader has not read yet; at 10 lines a second that is one line at
    most, and never the first line of a run (that one is on the new device)."""
    status = source.upper() + "_STATUS"
    out = set()
    for life in range(1, lives + 1):
        last, device_lost = None, False
        with open(os.path.join(work, "server-%d.log" % life)) as f:
            for line in f:
                fields = line.split(None, 3)
                if len(fields) < 4 or fields[1] != source:
                    continue
                if fields[2] == status and "lost serial device" in fields[3]:
                    device_lost = True
                elif fields[2] == key:
                    n = number_of(fields[3], sensor)
                    if device_lost and last is not None:
                        gone = next((m for m in range(last + 1, n) if m in valid), None)
                        if gone is not None and gone not in seen and gone not in firsts:
                            out.add(gone)
                    last, device_lost = n, False
    return out


def count(path, text):
    with open(path) as f:
        return sum(text in line for line in f)



def bridge_report(work, lives, name, sensor, source, key):
    """One row of figures, and the reasons the row fails (none when it passes)."""
    made, corrupt, counted, dropped, ended, wrong, firsts = segments(work, sensor)
    damaged = corrupt | {n for n in made if sensor == "gps" and n % NO_FIX == 0}
    got = values(work, lives, source, key, sensor)
    numbers = [n for _, n in got]
    valid = [n for n in made if n not in damaged]
    seen, repeated = set(), 0
    last = None
    for n in numbers:
        repeated += n in seen or (last is not None and n < last)
        seen.add(n)
        last = n
    # A life's span runs from the bridge's first to its last value in it: the
    # stretch in which it was connected. Valid lines made inside a span must
    # all arrive; those between spans were made while the server was down or
    # the bridge was connecting to the new one.
    spans = {}
    for life, n in got:
        lo, hi = spans.get(life, (n, n))
        spans[life] = (min(lo, n), max(hi, n))
    inside = lambda n: any(lo <= n <= hi for lo, hi in spans.values())
    expected = [n for n in valid if inside(n)]
    pulled = pulled_out(work, lives, source, key, sensor, set(valid), seen, firsts)
    lost = [n for n in expected if n not in seen and n not in pulled]
    outside = len(valid) - len(expected)
    bad_received = sum(n in damaged for n in seen)
    # A run that ends unplugs the device too; the next one plugs it in.
    unplugs = count(os.path.join(work, sensor + ".err"), "device unplugged") + max(0, ended - 1)
    pauses = count(os.path.join(work, sensor + ".err"), "SensorSim: quiet")
    back = count(os.path.join(work, name + ".err"), "is back; reading again")
    again = count(os.path.join(work, name + ".err"), ": data from ")
    row = dict(name=name, made=len(made), valid=len(valid), expected=len(expected),
               received=len(seen & set(expected)), lost=len(lost), pulled=len(pulled),
               outside=outside,
               damaged=len(damaged & set(made)), bad=bad_received, repeated=repeated,
               restarts="%d/%d" % (len(spans) - 1 if spans else 0, lives - 1),
               unplugs="%d/%d" % (min(back, unplugs), unplugs),
               pauses="%d/%d" % (min(again, pauses), pauses), dropped=dropped)
    faults = []
    if lost:
        faults.append("%d valid lines lost while connected, first %d" % (len(lost), lost[0]))
    if bad_received:
        faults.append("%d damaged values received" % bad_received)
    if repeated:
        faults.append("%d values came twice or out of order" % repeated)
    # A life without values hides its lines among those made while the
    # server was down: every restart, unplug and pause must be survived.
    if valid and not seen:
        faults.append("no value arrived")
    for fault, (survived, faced) in (("server restarts", (len(spans) - 1, lives - 1)),
                                     ("unplugs", (back, unplugs)), ("pauses", (again, pauses))):
        if survived < faced:
            faults.append("%d of %d %s survived" % (max(survived, 0), faced, fault))
    # The report's own sums.
    if wrong:
        faults.append("a SensorSim run ended without its summary")
    if len(seen) + repeated != len(numbers) or row["received"] + len(lost) + len(pulled) != len(
            expected):
        faults.append("received, lost and expected do not add up")
    if len(expected) + outside + row["damaged"] != len(made):
        faults.append("valid, outside and damaged lines do not add up to those made")
    if dropped == 0 and counted != len(corrupt):
        faults.append("SensorSim gave %d wrong checksums, not %d" % (counted, len(corrupt)))
    return row, faults, damaged


def scaler_report(work, lives, k, damaged, sensor):
    """Faults of Scaler k, which doubles the values of one bridge: a value of
    a damaged line, or one that went back, means it followed something wrong."""
    got = [n / 2 for _, n in values(work, lives, "Scaler%d" % k, "SCALED_%d" % k, sensor)]
    bad = sum(n in damaged for n in got)
    back = sum(b <= a for a, b in zip(got, got[1:]))
    print("Scaler%d followed %d values, %d of damaged lines, %d out of order" % (
        k, len(got), bad, back))
    faults = ["Scaler%d: %d values of damaged lines" % (k, bad)] if bad else []
    return faults + (["Scaler%d: %d values out of order" % (k, back)] if back else [])


def report(work, lives):
    columns = [("bridge", "name"), ("lines made", "made"), ("valid", "valid"),
               ("while up", "expected"), ("received", "received"), ("lost", "lost"),
               ("pulled out", "pulled"),
               ("server down", "outside"), ("damaged made", "damaged"),
               ("damaged rcvd", "bad"), ("repeated", "repeated"), ("restarts", "restarts"),
               ("unplugs", "unplugs"), ("pauses", "pauses")]
    print("  ".join("%12s" % title for title, _ in columns))
    faults, damaged = [], {}
    for name, sensor, source, key in (("Vantor", "gps", "Vantor", "Latitude"),
                                      ("Dirkel", "compass", "Compass", "CompassData")):
        row, found, damaged[name] = bridge_report(work, lives, name, sensor, source, key)
        print("  ".join("%12s" % row[field] for _, field in columns))
        faults += ["%s: %s" % (name, fault) for fault in found]
    print("(valid: made without damage; while up: made while the bridge was connected, all must"
          " arrive but those pulled out; pulled out: in the device when it was unplugged,"
          " never readable; server down: made between a server's death and the bridge's first value in"
          " the next life; restarts, unplugs, pauses: survived/made)")
    # Odd Scalers follow the latitude, even ones the compass.
    for k in range(1, 6):
        faults += scaler_report(work, lives, k, *(
            (damaged["Vantor"], "gps") if k % 2 else (damaged["Dirkel"], "compass")))
    for fault in faults:
        print("soak: " + fault, file=sys.stderr)
    return 1 if faults else 0


def main():
    if sys.argv[1] == "lines":
        write_lines(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        return 0
    return report(sys.argv[2], int(sys.argv[3]))


if __name__ == "__main__":
    sys.exit(main())
