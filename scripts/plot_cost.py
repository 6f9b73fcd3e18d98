#!/usr/bin/python3
"""Draws LocalServer's cost curve (the JSON file of bench/cost_curve.py) as a
PNG: notifications delivered per second against a straight line through the
first point, latency (median and 99th percentile) with SendImmediately off
and on, and the CPU of LocalServer and of the clients.

  python3 scripts/plot_cost.py COST.json OUT.png [TITLE]
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def series(rows, immediate, field):
    picked = [r for r in rows if r["send_immediately"] == immediate]
    return [r["clients"] for r in picked], [r[field] for r in picked]


def main():
    if len(sys.argv) not in (3, 4):
        print("usage: plot_cost.py COST.json OUT.png [TITLE]", file=sys.stderr)
        return 2
    with open(sys.argv[1]) as f:
        rows = json.load(f)
    fig, (rate, latency, cpu) = plt.subplots(1, 3, figsize=(15, 4.5))
    for immediate, style in ((False, "o-"), (True, "s--")):
        label = "SendImmediately " + ("on" if immediate else "off")
        n, delivered = series(rows, immediate, "delivered_per_s")
        rate.plot(n, delivered, style, label=label)
        for field, suffix in (("median_ms", "median"), ("p99_ms", "99th pct")):
            latency.plot(*series(rows, immediate, field), style, label="%s, %s" % (label, suffix))
        cpu.plot(*series(rows, immediate, "server_cpu_pct"), style, label="LocalServer, " + label)
        cpu.plot(*series(rows, immediate, "clients_cpu_pct"), style, alpha=0.5,
                 label="all clients, " + label)
    n, delivered = series(rows, False, "delivered_per_s")
    # Each client follows 50 variables at 10 Hz: 500 a second each, once
    # there are six clients or more.
    rate.plot(n, [500 * k if k > 5 else 100 * k for k in n], ":", color="grey",
              label="expected")
    rate.set(title="Notifications delivered per second", xlabel="clients", ylabel="per second")
    latency.set(title="Posting to delivery", xlabel="clients", ylabel="ms", yscale="log")
    cpu.set(title="CPU", xlabel="clients", ylabel="% of one core")
    for ax in (rate, latency, cpu):
        ax.grid(True, alpha=0.3)
        ax.legend(fontsize=7)
    if len(sys.argv) == 4:
        fig.suptitle(sys.argv[3])
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=90)
    return 0


if __name__ == "__main__":
    sys.exit(main())
