"""The results as Markdown tables, for the terminal and for bench/RESULTS.md."""

import datetime
import importlib.metadata
import os
import platform
import subprocess


def duration(seconds):
    if seconds is None:
        return "—"
    if seconds >= 1.0:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.3g} ms"
    return f"{seconds * 1e6:.3g} µs"


def rate(per_second):
    """A throughput: millions with one decimal from a million up, whole numbers below."""
    return f"{per_second / 1e6:.1f} M" if per_second >= 1e6 else f"{per_second:,.0f}"


def mebibytes(count):
    return f"{count / 2**20:.1f} MiB"


def table(header, rows):
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    lines += ["| " + " | ".join(str(cell) for cell in row) + " |" for row in rows]
    return "\n".join(lines)


def timing_table(rows):
    header = ["case", "hydrokit", "peer", "peer time", "ratio peer/hydrokit", "target", "met",
              "values"]
    cells = []
    previous_case = None
    for row in rows:
        first = row["case"] != previous_case
        previous_case = row["case"]
        ratio = "—" if row["ratio"] is None else f"{row['ratio']:.2f}×"
        if row["target"] is not None:
            target = f"≥ {row['target']:.3g}×"
        elif row["ceiling"] is not None:
            target = f"≤ {row['ceiling']:.3g}×"
        else:
            target = "—"
        cells.append([row["case"] if first else "", duration(row["hydrokit"]) if first else "",
                      row["peer"], duration(row["peer_time"]), ratio, target, row["met"],
                      row["check"]])
    return table(header, cells)


def threads_table(rows):
    header = ["work", "hydrokit, 4 in sequence", "on 2 threads", "ratio", "target", "met",
              "steady", "peer", "peer, 4 in sequence", "on 2 threads", "ratio", "steady",
              "values"]
    cells = [[row["case"], duration(row["medians"]["hydrokit in sequence"]),
              duration(row["medians"]["hydrokit on threads"]),
              f"{row['ratios']['hydrokit']:.2f}×", f"≥ {row['target']:g}×", row["met"],
              f"{row['steady']['hydrokit']:.2f}×", row["peer"],
              duration(row["medians"]["peer in sequence"]),
              duration(row["medians"]["peer on threads"]), f"{row['ratios']['peer']:.2f}×",
              f"{row['steady']['peer']:.2f}×", row["check"]] for row in rows]
    return table(header, cells)


def progress_table(rows):
    header = ["long call on the main thread", "call", "other thread's rate / its solo rate",
              "target", "met"]
    cells = [[row["call"], duration(row["seconds"]), f"{100 * row['share']:.0f} %",
              "—" if row["target"] is None else f"≥ {100 * row['target']:.0f} %", row["met"]]
             for row in rows]
    return table(header, cells)


def memory_table(rows):
    header = ["call", "outputs", "peak extra memory", "beyond the outputs", "target", "met"]
    cells = [[row["case"], mebibytes(row["outputs"]), mebibytes(row["peak_extra"]),
              mebibytes(row["peak_extra"] - row["outputs"]), f"≤ {mebibytes(row['allowance'])}",
              row["met"]] for row in rows]
    return table(header, cells)


def version(package):
    try:
        return importlib.metadata.version(package)
    except importlib.metadata.PackageNotFoundError:
        return "not installed"


def cpu_description():
    """Model name, family and model numbers, and the widest vector unit the CPU offers."""
    fields = {}
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                key, _, value = line.partition(":")
                fields.setdefault(key.strip(), value.strip())
    except OSError:
        return platform.processor() or "unknown"
    flags = fields.get("flags", "").split()
    # The vector sets the kernels' dispatch chooses among, and FMA, which they never use.
    sets = [name for flag, name in [("sse4_2", "SSE4.2"), ("avx", "AVX"), ("avx2", "AVX2"),
                                    ("fma", "FMA"), ("avx512f", "AVX-512F"),
                                    ("avx512dq", "AVX-512DQ"), ("avx512bw", "AVX-512BW"),
                                    ("avx512vl", "AVX-512VL")] if flag in flags]
    widest = next((name for flag, name in [("avx512f", "AVX-512"), ("avx2", "AVX2"),
                                           ("sse2", "SSE2")] if flag in flags), "no SIMD flags")
    return (f"{fields.get('model name', 'unknown')} (family {fields.get('cpu family', '?')}, "
            f"model {fields.get('model', '?')}; {', '.join(sets) or 'no vector sets listed'}; "
            f"the kernels dispatch to {widest})")


def hydrokit_revision():
    here = os.path.dirname(os.path.abspath(__file__))
    try:
        revision = subprocess.run(["git", "-C", here, "rev-parse", "--short", "HEAD"],
                                  capture_output=True, text=True, check=True).stdout.strip()
        dirty = subprocess.run(["git", "-C", here, "status", "--porcelain", "--", "../src"],
                               capture_output=True, text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return revision + (" with uncommitted changes in src/" if dirty else "")


def machine_facts(load_before):
    packages = ["numpy", "numba", "llvmlite", "scipy", "hydroeval", "HydroErr"]
    return [
        f"- Date: {datetime.datetime.now(datetime.UTC):%Y-%m-%d %H:%M} UTC",
        f"- CPU: {cpu_description()}, {os.cpu_count()} cores "
        f"(load average {load_before[0]:.2f} when the run started; the machine is shared)",
        f"- Python {platform.python_version()}; "
        + ", ".join(f"{p} {version(p)}" for p in packages),
        # make bench names the compiler it built with; the installed module does not say.
        f"- hydrokit at commit {hydrokit_revision()}"
        + (f", built with {os.environ['CXX']}" if "CXX" in os.environ else ""),
    ]
