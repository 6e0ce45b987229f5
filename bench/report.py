#!/usr/bin/env python3
"""Tables, targets and the plot of one benchmark run (bench/run's JSON).

    bench/report.py RESULTS.json [--png OUT.png]

prints the Markdown report again and, with --png, redraws the plot. bench/run
calls the same functions at the end of a run.
"""

import json
import os
import subprocess
import sys

CONNS = ("1", "2", "8")
CLASSES = ("common", "rare", "two_words", "prefix", "typo")
HTTP_OPS = (("floor", "floor (static C CGI)"), ("fetch", "fetch by id"), ("listing", "listing"),
            ("search_mix", "search mix"), ("omega_mix", "Omega search mix"), ("delete", "delete"))


def _get(d, *path):
    for p in path:
        if not isinstance(d, dict) or p not in d:
            return None
        d = d[p]
    return d


def _target(name, ours, theirs, goal, higher_is_better, unit, note=""):
    """ours/theirs against goal; None figures make the target unmeasured."""
    if ours is None or theirs is None or not theirs:
        return {"name": name, "ours": ours, "theirs": theirs, "ratio": None, "goal": goal,
                "met": None, "unit": unit, "note": note or "not measured in this run"}
    ratio = ours / theirs
    met = ratio >= goal if higher_is_better else ratio <= goal
    return {"name": name, "ours": ours, "theirs": theirs, "ratio": ratio, "goal": goal,
            "met": met, "unit": unit, "higher_is_better": higher_is_better, "note": note}


def targets(r):
    """The targets of the benchmark, each with its ratio and whether it is met."""
    out = []
    for c in ("1", "8"):
        out.append(_target("Fetch through lighttpd, %s connection%s: req/s vs the floor" % (c, "s" if c != "1" else ""),
                           _get(r, "http", "fetch", c, "rps"), _get(r, "http", "floor", c, "rps"),
                           0.80, True, "req/s"))
    for how, key in (("one body", "http_one_body"), ("batches of 1,000", "http_batches")):
        ours = _get(r, "ingest", key, "docs_per_s")
        out.append(_target("Ingest through HTTP (%s): docs/s vs raw SQLite" % how, ours,
                           _get(r, "ingest", "sqlite", "docs_per_s"), 1.25, True, "docs/s"))
        out.append(_target("Ingest through HTTP (%s): docs/s vs Xapian" % how, ours,
                           _get(r, "ingest", "xapian", "docs_per_s"), 10.0, True, "docs/s"))
    for cls in CLASSES:
        # Medians: on a shared machine a few runs that wait for the CPU
        # would otherwise decide the comparison.
        out.append(_target("Search top-20 per process, %s: median ms vs Xapian's query program" % cls,
                           _get(r, "bare", "search", cls, "p50_ms"), _get(r, "bare", "xapian", cls, "p50_ms"),
                           1.0, False, "ms"))
    one_m = _get(r, "meta", "size") == "1m"
    for cls in CLASSES:
        ms = _get(r, "bare", "search", cls, "p50_ms")
        t = _target("Search top-20 per process on 1M, %s: median under 20 ms" % cls, ms if one_m else None, 20.0,
                    1.0, False, "ms", "" if one_m else "measured on the 1M corpus only (bench/run --size 1m)")
        if not one_m and ms is not None:
            t["note"] += "; this run: %.2f ms on %s" % (ms, _get(r, "meta", "size"))
        out.append(t)
    mem = _get(r, "ingest", "bare_one_body")
    out.append(_target("Peak memory of a one-body ingest of %.0f MB: at most 3x the body"
                       % ((mem or {}).get("bytes", 0) / 1e6),
                       (mem or {}).get("peak_rss_bytes"), (mem or {}).get("bytes"), 3.0, False, "bytes"))
    return out


def _f(v, digits=1):
    if v is None:
        return "–"
    if isinstance(v, (int, float)) and abs(v) >= 1000:
        return "{:,.0f}".format(v)
    return ("{:.%df}" % digits).format(v)


def _fig(v, unit):
    if v is None:
        return "–"
    if unit == "bytes":
        return "%.1f MB" % (v / 1e6)
    if unit == "ms":
        return "%.2f ms" % v
    return "%s %s" % (_f(v), unit)


def markdown(r, brief=False):
    m = r.get("meta", {})
    mach = m.get("machine", {})
    lines = []
    lines.append("Run of %s on %s documents (%s), commit %s, %s; %s cores (%s), %s GB; load average %s before, %s after; "
                 "wrk %s s per run.\n" % (
                     m.get("started"), _f(m.get("docs")), m.get("size"), m.get("commit"),
                     "smoke mode" if m.get("smoke") else "full mode", mach.get("cores"), mach.get("cpu"),
                     mach.get("mem_gb"), m.get("load_before"), m.get("load_after"), m.get("wrk_seconds")))
    lines.append("### Targets\n")
    lines.append("| Target | Ours | Theirs | Ours / theirs | Goal | Met |")
    lines.append("|---|---:|---:|---:|---:|---|")
    for t in r.get("targets", []):
        goal = ("≥ %.2f×" if t.get("higher_is_better", True) and t["unit"] != "ms" and t["unit"] != "bytes"
                else "≤ %.2f×") % t["goal"]
        met = "–" if t["met"] is None else ("**met**" if t["met"] else "**missed**")
        if t["met"] is False and t.get("note"):
            met += " (" + t["note"] + ")"
        elif t["met"] is None and t.get("note"):
            met += " " + t["note"]
        theirs = "20 ms" if "under 20 ms" in t["name"] else _fig(t["theirs"], t["unit"])
        lines.append("| %s | %s | %s | %s | %s | %s |" % (t["name"], _fig(t["ours"], t["unit"]), theirs,
                                                          "–" if t["ratio"] is None else "%.2f×" % t["ratio"],
                                                          goal, met))
    if brief:
        return "\n".join(lines) + "\n"

    lines.append("\n### Through lighttpd (wrk, one thread, keep-alive)\n")
    lines.append("| Operation | Conns | Req/s | p50 ms | p99 ms | Req/s vs floor |")
    lines.append("|---|---:|---:|---:|---:|---:|")
    http = r.get("http", {})
    names = [k for k, _ in HTTP_OPS] + sorted(k for k in http if k.startswith(("search_", "omega_"))
                                               and not k.endswith("_mix"))
    labels = dict(HTTP_OPS)
    for op in names:
        for c in CONNS:
            x = _get(http, op, c)
            if not x:
                continue
            floor = _get(http, "floor", c, "rps")
            lines.append("| %s | %s | %s | %.2f | %.2f | %s |" % (
                labels.get(op, op.replace("_", " ", 1)), c, _f(x["rps"]), x["p50_us"] / 1e3, x["p99_us"] / 1e3,
                "%.2f×" % (x["rps"] / floor) if floor else "–"))

    lines.append("\n### Bare processes (no web server), per run\n")
    lines.append("| Operation | Runs | Mean ms | p50 ms | p99 ms | CPU ms | Peak RSS MB | lighttpd's share at 1 conn |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|")
    bare = r.get("bare", {})
    rows = [("floor", bare.get("floor"), "floor"), ("fetch", bare.get("fetch"), "fetch"),
            ("listing", bare.get("listing"), "listing"), ("delete", bare.get("delete"), "delete")]
    for group, label in (("search", "ours"), ("sqlite", "raw SQLite"), ("xapian", "Xapian"), ("omega", "Omega")):
        for cls in CLASSES:
            if _get(bare, group, cls):
                rows.append(("search %s: %s" % (cls, label), bare[group][cls],
                             ("search_" if group == "search" else "omega_") + cls if group in ("search", "omega") else None))
    for label, x, http_op in rows:
        if not x:
            continue
        share = "–"
        h = _get(http, http_op, "1") if http_op else None
        if h and h.get("mean_us"):
            share = "%.2f ms" % (h["mean_us"] / 1e3 - x["mean_ms"])
        lines.append("| %s | %d | %.3f | %.3f | %.3f | %.3f | %.1f | %s |" % (
            label, x["runs"], x["mean_ms"], x["p50_ms"], x["p99_ms"], x["cpu_ms"], x["max_rss_kb"] / 1024, share))

    lines.append("\n### Ingest\n")
    lines.append("| What | Documents | MB | Seconds | Docs/s | MB/s | Peak RSS MB |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|")
    ing = r.get("ingest", {})
    for key, label in (("http_batches", "ours through HTTP, batches of 1,000"),
                       ("http_one_body", "ours through HTTP, one body"),
                       ("bare_batches", "ours as bare processes, batches of 1,000"),
                       ("bare_one_body", "ours as one bare process, one body (memory)"),
                       ("sqlite", "raw SQLite, one transaction"), ("xapian", "Xapian TermGenerator")):
        x = ing.get(key)
        if x:
            rss = x.get("max_rss_kb")
            lines.append("| %s | %s | %.1f | %.2f | %s | %.1f | %s |" % (
                label, _f(x["docs"]), x["bytes"] / 1e6, x["seconds"], _f(x["docs_per_s"]), x["mb_per_s"],
                "%.1f" % (rss / 1024) if rss else "–"))

    q = r.get("queries") or []
    if q:
        lines.append("\n### Queries\n")
        lines.append("| Class | Ours | FTS5 | Xapian / Omega | Documents holding it |")
        lines.append("|---|---|---|---|---|")
        for x in q:
            lines.append("| %s | `%s` | `%s` | `%s` | %s |" % (x["class"], x["ours"], x["fts5"], x["xapian"],
                                                             x.get("df") if x.get("df") is not None else "–"))
        typo = r.get("typo_found")
        if typo:
            lines.append("\nThe misspelt word's intended word among the hits: " +
                         ", ".join("%s %s" % (k, "yes" if v else "no") for k, v in sorted(typo.items())) + ".")
    failed = [c for c in r.get("checks", []) if not c["ok"]]
    lines.append("\n%d reply checks, %d failed%s." % (len(r.get("checks", [])), len(failed),
                                                     ": " + "; ".join(c["name"] for c in failed) if failed else ""))
    for s in r.get("skipped", []):
        lines.append("Skipped %s: %s." % (s["name"], s["why"]))
    return "\n".join(lines) + "\n"


def plot(r, png, work):
    """Draws requests per second, p99 latency and per-process search time."""
    os.makedirs(work, exist_ok=True)
    http = r.get("http", {})
    bare = r.get("bare", {})

    def val(v):
        return "%g" % v if v is not None else "NaN"

    ops = [(k, label) for k, label in HTTP_OPS if k in http]
    if not ops:
        return None
    with open(os.path.join(work, "http.dat"), "w", encoding="utf-8") as f:
        for k, label in ops:
            f.write('"%s" %s %s\n' % (label, " ".join(val(_get(http, k, c, "rps")) for c in CONNS),
                                      " ".join(val((_get(http, k, c, "p99_us") or 0) / 1e3 or None) for c in CONNS)))
    with open(os.path.join(work, "search.dat"), "w", encoding="utf-8") as f:
        for cls in CLASSES:
            f.write('"%s" %s\n' % (cls, " ".join(val(_get(bare, g, cls, "p50_ms"))
                                                  for g in ("search", "sqlite", "xapian", "omega"))))
    m = r.get("meta", {})
    script = """
set terminal pngcairo size 1100,1250 font "DejaVu Sans,10"
set output '%(png)s'
set multiplot layout 3,1 title "Quorvane Korrin, %(size)s documents: ours beside the floor and the peers"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set key outside top center horizontal
set termoption noenhanced
set grid ytics
set logscale y
set xtics nomirror
set ylabel "requests per second"
set title "Through lighttpd over loopback (wrk): requests per second by operation and connections"
plot '%(work)s/http.dat' using 2:xtic(1) title '1 connection', '' using 3 title '2 connections', '' using 4 title '8 connections'
set ylabel "p99 latency, ms"
set title "Through lighttpd: p99 latency"
plot '%(work)s/http.dat' using 5:xtic(1) title '1 connection', '' using 6 title '2 connections', '' using 7 title '8 connections'
set ylabel "ms per process (median)"
set title "Search top-20, one process per query, by query class"
plot '%(work)s/search.dat' using 2:xtic(1) title 'ours (api_search)', '' using 3 title 'raw SQLite FTS5 bm25()', '' using 4 title 'Xapian query program', '' using 5 title 'Omega CGI'
unset multiplot
""" % {"png": png, "work": work, "size": "{:,}".format(m.get("docs", 0))}
    path = os.path.join(work, "plot.gp")
    with open(path, "w", encoding="utf-8") as f:
        f.write(script)
    out = subprocess.run(["gnuplot", path], capture_output=True, text=True)
    if out.returncode != 0 or not os.path.exists(png):
        print("bench: gnuplot failed: " + out.stderr[-500:], file=sys.stderr)
        return None
    return png


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as f:
        r = json.load(f)
    r["targets"] = targets(r)
    print(markdown(r), end="")
    if "--png" in sys.argv:
        out = sys.argv[sys.argv.index("--png") + 1]
        plot(r, os.path.abspath(out), os.path.join(os.path.dirname(os.path.abspath(out)), "plot-work"))


if __name__ == "__main__":
    main()
