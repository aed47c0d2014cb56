#!/usr/bin/env python3
"""Reads per second of one DINT tag from Python against the C API, on the
same qxsym-sim and the same shared library.

    bench/python_reads.py [--build build-bench] [--count 20000] [--repetitions 3] [--doc FILE]

Rows: the C program qxsym-bench-driver (QXSym_GetTagValue_Ptr in a loop);
the same C function called from Python through ctypes; Workspace.read; a
read through qxsymbols.aio (one hop to the workspace's thread and back);
and a group of 10 tags read with Group.read, counted in tag values. Client
and simulator run on CPU 0 when the machine has two or more, like the main
run of scripts/bench.sh. With --doc, the table replaces the part of FILE
between the markers <!-- python:begin --> and <!-- python:end -->.
"""

import argparse
import asyncio
import ctypes
import os
import platform
import re
import resource
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
TAG = "CntDint"
GROUP = [
    "CntDint",
    "CntInt",
    "CntUint",
    "CntUdint",
    "CntLint",
    "StatusByte",
    "StatusWord",
    "StatusDword",
    "TotalEnergy",
    "MachineState",
]


def pin():
    if hasattr(os, "sched_setaffinity") and (os.cpu_count() or 1) >= 2:
        os.sched_setaffinity(0, {0})
        return True
    return False


def start_sim(build, pinned):
    sim = build / "sim" / "server" / "qxsym-sim"
    p = subprocess.Popen(
        [str(sim), "--model", str(ROOT / "sim/models/demo.json"), "--port", "0", "--scan", "0"],
        stdout=subprocess.PIPE,
        text=True,
        preexec_fn=(lambda: os.sched_setaffinity(0, {0})) if pinned else None,
    )
    line = p.stdout.readline()
    if not line.startswith("listening on "):
        p.kill()
        sys.exit(f"qxsym-sim did not start: {line!r}")
    return p, int(line.rsplit(":", 1)[1])


def rate(fn, count):
    """(reads per second, client CPU seconds per read) of fn(count)."""
    fn(count // 20)  # warm up
    t, cpu = time.perf_counter(), time.process_time()
    fn(count)
    return count / (time.perf_counter() - t), (time.process_time() - cpu) / count


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def c_driver(build, port, count):
    driver = build / "bench" / "qxsym-bench-driver"

    def run(n):
        t, cpu = time.perf_counter(), children_cpu()
        subprocess.run([str(driver), "127.0.0.1", str(port), str(n), TAG], check=True)
        return time.perf_counter() - t, children_cpu() - cpu

    run(0)
    (t_n, cpu_n), (t_0, cpu_0) = run(count), run(0)
    return count / (t_n - t_0), (cpu_n - cpu_0) / count


def plain_tag(lib, port, name):
    """A tag handle of a workspace of the library itself, for the ctypes row."""
    from qxsymbols._lib import ServerAddress

    ws, tag = ctypes.c_int(), ctypes.c_int()
    address = ServerAddress(0, b"127.0.0.1", port, 5000)
    if lib.QXSym_OpenWorkspace(0, ctypes.byref(address), ctypes.byref(ws)) not in (0, 35):
        raise RuntimeError("cannot open a workspace")
    if lib.QXSym_GetGlobalTag(ws, name.encode(), ctypes.byref(tag)):
        raise RuntimeError(f"no tag {name}")
    return tag


def first_reads(qxsymbols, port):
    """Exchanges of a first and a second read of each tag, each in a fresh session."""
    out = {}
    for name in ("CntDint", "Recipe", "Line"):
        with qxsymbols.connect("127.0.0.1", port) as ws:
            counts = []
            for _ in range(2):
                before = ws.exchanges
                ws.read(name)
                counts.append(ws.exchanges - before)
            out[name] = counts
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--build", default=str(ROOT / "build-bench"))
    ap.add_argument("--count", type=int, default=20000)
    ap.add_argument("--repetitions", type=int, default=3)
    ap.add_argument("--doc")
    args = ap.parse_args()
    build = Path(args.build).resolve()
    os.environ["QXSYMBOLS_LIBRARY"] = str(build / "src")
    os.environ["QXSYMCORE_LIBRARY"] = str(build / "src" / "client")
    sys.path.insert(0, str(ROOT / "python"))
    import qxsymbols
    from qxsymbols import aio
    from qxsymbols._lib import library

    pinned = pin()
    sim, port = start_sim(build, pinned)
    lib = library()
    rows = {k: [] for k in ("c", "ctypes", "read", "aio", "group")}
    try:
        first = first_reads(qxsymbols, port)
        with qxsymbols.connect("127.0.0.1", port) as ws:
            # The library's own functions resolve through the core, which links it.
            tag = plain_tag(lib, port, TAG)
            buf = ctypes.create_string_buffer(4)
            get = lib.QXSym_GetTagValue_Ptr

            def raw(n):
                for _ in range(n):
                    if get(tag, buf, 4):
                        raise RuntimeError("read failed")

            def read(n):
                for _ in range(n):
                    ws.read(TAG)

            group = ws.group(GROUP)

            def group_read(n):
                for _ in range(n // len(GROUP)):
                    group.read()

            async def aio_rate(count):
                async with aio.connect("127.0.0.1", port) as aws:
                    await aws.read(TAG)
                    t, cpu = time.perf_counter(), time.process_time()
                    for _ in range(count):
                        await aws.read(TAG)
                    return count / (time.perf_counter() - t), (time.process_time() - cpu) / count

            for _ in range(args.repetitions):
                rows["c"].append(c_driver(build, port, args.count))
                rows["ctypes"].append(rate(raw, args.count))
                rows["read"].append(rate(read, args.count))
                rows["aio"].append(asyncio.run(aio_rate(args.count // 2)))
                rows["group"].append(rate(group_read, args.count * 5))
            group.close()
    finally:
        sim.terminate()
        sim.wait()

    med = {k: statistics.median(r for r, _ in v) for k, v in rows.items()}
    cpu = {k: statistics.median(c for _, c in v) for k, v in rows.items()}
    c = med["c"]
    labels = [
        ("c", "C program, `QXSym_GetTagValue_Ptr` in a loop"),
        ("ctypes", "Python, the same C function through `ctypes`"),
        ("read", "Python, `Workspace.read`"),
        ("aio", "Python, `await aio.Workspace.read`"),
        ("group", f"Python, `Group.read` of {len(GROUP)} tags (tag values per second)"),
    ]
    load = open("/proc/loadavg").read().split()[:3] if os.path.exists("/proc/loadavg") else ["?"]
    out = [
        f"Measured on {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, Python "
        f"{platform.python_version()}, "
        f"{'client and simulator on CPU 0' if pinned else 'unpinned'}, "
        f"load average {' '.join(load)}; median of {args.repetitions} runs of {args.count} reads "
        f"of a DINT tag against `qxsym-sim` (acknowledgements on).",
        "",
        "| client | reads per second | µs per read | to the C program | client CPU µs per read |",
        "|---|---:|---:|---:|---:|",
    ]
    for key, label in labels:
        out.append(
            f"| {label} | {med[key]:.0f} | {1e6 / med[key]:.1f} | {med[key] / c:.2f} "
            f"| {cpu[key] * 1e6:.1f} |"
        )
    out += [
        "",
        "| exchanges of `Workspace.read` (opening not counted) | first read | second read |",
        "|---|---:|---:|",
    ]
    out += [f"| `{name}` | {a} | {b} |" for name, (a, b) in first.items()]
    out += [
        "",
        "Client CPU is user and system time of the client process (all its threads) per read, "
        "which the load of the machine disturbs less than the rates. For the group it is per "
        "tag value.",
    ]
    table = "\n".join(out)
    print(table)
    if args.doc:
        doc = Path(args.doc)
        text = doc.read_text()
        new, n = re.subn(
            r"(<!-- python:begin[^>]*-->\n).*?(<!-- python:end -->)",
            lambda m: m.group(1) + "\n" + table + "\n\n" + m.group(2),
            text,
            flags=re.S,
        )
        if n != 1:
            sys.exit(f"{doc}: no python:begin/python:end markers")
        doc.write_text(new)


if __name__ == "__main__":
    main()
