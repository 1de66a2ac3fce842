#!/usr/bin/env python3
"""Prints one table from the JSON results of the benchmark programs.

    table.py RESULT.json...

Times are per operation: per transition, per evaluation, per query, per trace line, per
load, per registry value. "peer/ws" above 1 means winsteps is faster; "ws/floor" is how far
winsteps stays above the floor.
"""
import json
import re
import sys

results = {}
counters = {}
for path in sys.argv[1:]:
    try:
        with open(path) as f:
            data = json.load(f)
    except (OSError, ValueError):
        continue
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        real = "/real_time" in b["name"]
        name = re.sub(r"/iterations:\d+", "", b["name"].replace("/real_time", ""))
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        per = b["real_time"] * scale
        if b.get("items_per_second", 0) > 0:
            # Items per iteration, from the clock the rate was measured on.
            basis = b["real_time"] if real else b["cpu_time"]
            items = round(b["items_per_second"] * basis * scale / 1e9)
            per = b["real_time"] * scale / items if items else per
        results[name] = per
        if "failed_writers" in b:
            counters[name] = int(b["failed_writers"])
        if "lost" in b:
            counters[name] = (int(b["confirmed"]), int(b["lost"]))


def fmt(ns):
    if ns is None:
        return "-"
    if ns >= 1e6:
        return "%.1f ms" % (ns / 1e6)
    if ns >= 1e3:
        return "%.2f us" % (ns / 1e3)
    return "%.0f ns" % ns


def ratio(a, b):
    if a is None or b is None or b == 0:
        return "-"
    return "%.2f" % (a / b)


# workload, winsteps, [(peer name, benchmark)], floor
rows = [
    ("transition + 1 map, traced to /dev/null", "BM_Transition_TracedDevNull",
     [("SCXML ECMAScript", "BM_Transition_ScxmlEcmaScript"), ("SCXML null", "BM_Transition_ScxmlNull")],
     "BM_Transition_Floor"),
    ("transition + 1 map, trace filtered", "BM_Transition_TraceFiltered",
     [("SCXML null", "BM_Transition_ScxmlNull")], "BM_Transition_Floor"),
    ("concat(uppercase,'-',substr)", "BM_Expr_Concat", [("QJSEngine", "BM_Expr_Concat_QJSEngine")], "BM_Expr_Concat_Floor"),
    ("add($x,multiply($y,2))", "BM_Expr_Arithmetic", [("QJSEngine", "BM_Expr_Arithmetic_QJSEngine")],
     "BM_Expr_Arithmetic_Floor"),
    ("join(grep(split))", "BM_Expr_List", [("QJSEngine", "BM_Expr_List_QJSEngine")], "BM_Expr_List_Floor"),
    ("parse one map", "BM_Expr_ParseMap", [], None),
]
queries = ["//item", "group/item[@id='i42']", "//item[name='n5' and @id='i5']", "group[last]/item[2]"]
for q, text in enumerate(queries):
    for n in (10000, 100000):
        rows.append(("path %s, %dk items" % (text, n // 1000), "BM_Path/%d/%d" % (q, n),
                     [("pugixml", "BM_Path_Pugixml/%d/%d" % (q, n)), ("libxml2", "BM_Path_Libxml2/%d/%d" % (q, n))],
                     "BM_Path_Floor/%d/%d" % (q, n)))
rows += [
    ("trace line to /dev/null", "BM_Trace_DevNull", [("clog in pieces", "BM_Trace_ClogPieces_Floor")],
     "BM_Trace_ClogOnce_Floor"),
    ("trace line to a file", "BM_Trace_File", [], "BM_Trace_ClogOnce_Floor"),
    ("load 1000 states, 2000 transitions", "BM_LoadWizard", [], None),
    ("registry value write (durable), journal on", "BM_Registry_Write/1/real_time", [], "BM_Registry_Write/0/real_time"),
    ("registry value read", "BM_Registry_Read", [], None),
    ("registry write, 4 writer processes", "BM_Registry_FourWriters", [], None),
]

header = ("workload", "winsteps", "peer", "peer time", "floor", "peer/ws", "ws/floor")
lines = []
for label, ours, peers, floor in rows:
    o = results.get(ours)
    f = results.get(floor) if floor else None
    if not peers:
        peers = [("", None)]
    for i, (pname, pbench) in enumerate(peers):
        p = results.get(pbench) if pbench else None
        lines.append((label if i == 0 else "", fmt(o) if i == 0 else "", pname, fmt(p) if pbench else "-",
                      fmt(f) if i == 0 and floor else "", ratio(p, o), ratio(o, f) if i == 0 else ""))
widths = [max(len(r[c]) for r in lines + [header]) for c in range(len(header))]
print(" | ".join(h.ljust(w) for h, w in zip(header, widths)))
print("-|-".join("-" * w for w in widths))
for r in lines:
    print(" | ".join(c.ljust(w) for c, w in zip(r, widths)))

# Growth of the path searches from 10k to 100k items (10 for linear work).
print()
for q, text in enumerate(queries):
    a, b = results.get("BM_Path/%d/10000" % q), results.get("BM_Path/%d/100000" % q)
    pa, pb = results.get("BM_Path_Pugixml/%d/10000" % q), results.get("BM_Path_Pugixml/%d/100000" % q)
    print("path %-32s 10k->100k: winsteps %s, pugixml %s" % (text, ratio(b, a), ratio(pb, pa)))
if "BM_Registry_Write/1/real_time" in results:
    on, off = results["BM_Registry_Write/1/real_time"], results.get("BM_Registry_Write/0/real_time")
    print("registry: %.0f durable value writes per second" % (1e9 / on))
    if off:
        print("registry: the journal costs %s on value writes (floor: journal off)" % ratio(on, off))
if "BM_Registry_FourWriters" in counters:
    print("registry: 4 concurrent writer processes, %d failed" % counters["BM_Registry_FourWriters"])
if "BM_Registry_KillNine" in counters:
    confirmed, lost = counters["BM_Registry_KillNine"]
    print("registry: writer killed with SIGKILL after %d confirmed writes, %d lost" % (confirmed, lost))
