"""Times hydrokit against the loops and libraries a user would reach for instead, case by case
in one process, checks that every peer computes the same values, measures each call's peak
memory and how long calls share the cores between threads, prints the tables and writes them
to bench/RESULTS.md.

Run through `make bench`, which installs the peers into the venv first. The tables go to the
file named by the first argument (default: bench/RESULTS.md, the run of record)."""

import os
import pathlib
import sys
import time

import calls
import cases
import free_threading
import memory
import report
import threads
import timing
from case import compare
from timing import median_seconds, warm_up

RESULTS = pathlib.Path(__file__).with_name("RESULTS.md")


def check_text(peer, identical, worst):
    if identical:
        return "identical"
    difference = f"largest relative difference {worst:.1e}"
    if peer.exact:
        return f"DIFFERS although computed in the same order: {difference}"
    return difference


def run_case(case):
    peers = [peer for peer in case.peers if peer.missing is None]
    calls = {case.hydrokit.name: case.hydrokit.call} | {peer.name: peer.call for peer in peers}
    results = warm_up(calls)
    reference = case.hydrokit.values(results[case.hydrokit.name])
    checks = {peer.name: compare(reference, peer.values(results[peer.name])) for peer in peers}
    del results, reference
    medians, rounds = median_seconds(calls)
    ours = medians[case.hydrokit.name]
    rows = []
    for peer in case.peers:
        row = {"case": case.name, "hydrokit": ours, "peer": peer.name, "target": peer.target,
               "ceiling": peer.ceiling, "peer_time": None, "ratio": None}
        if peer.missing is not None:
            rows.append(row | {"met": "—", "check": peer.missing})
            continue
        ratio = medians[peer.name] / ours
        if peer.target is not None:
            met = "yes" if ratio >= peer.target else "**no**"
        elif peer.ceiling is not None:
            met = "yes" if ratio <= peer.ceiling else "**no**"
        else:
            met = "—"
        rows.append(row | {"peer_time": medians[peer.name], "ratio": ratio, "met": met,
                           "check": check_text(peer, *checks[peer.name])})
    notes = list(case.notes)
    if case.work is not None:
        count, unit = case.work
        rates = ", ".join(f"{name} {report.rate(count / seconds)} {unit}/s"
                          for name, seconds in medians.items())
        notes.append(f"{case.name}: {count:,} {unit}; {rates}.")
    if case.timing_notes is not None:
        notes += case.timing_notes(medians)
    if case.wrapped_calls is not None:
        per_call = 1e6 / case.wrapped_calls
        notes += [f"{case.name}: {peer.name} adds {(medians[peer.name] - ours) * per_call:.0f} "
                  f"µs a call to hydrokit's {ours * per_call:.1f} µs." for peer in peers]
    return rows, notes, rounds


def memory_rows():
    rows = []
    for name in memory.CASES:
        measured = memory.run(name)
        allowance = measured["outputs"] + memory.CONSTANT_ALLOWANCE
        met = "yes" if measured["peak_extra"] <= allowance else "**no**"
        rows.append({"case": name, **measured, "allowance": memory.CONSTANT_ALLOWANCE,
                     "met": met})
        print(f"  memory: {name}", file=sys.stderr, flush=True)
    return rows


def summary(rows, footprints):
    targets = [row for row in rows if row["met"] in ("yes", "**no**")]
    met = sum(row["met"] == "yes" for row in targets)
    memory_met = sum(row["met"] == "yes" for row in footprints)
    differing = [row for row in rows if row["check"].startswith("DIFFERS")]
    lines = [f"Speed targets met: {met} of {len(targets)}. "
             f"Memory targets met: {memory_met} of {len(footprints)}."]
    if differing:
        lines.append("Peers that should be identical but are not: "
                     + "; ".join(f"{r['case']} / {r['peer']}" for r in differing) + ".")
    return lines


def main():
    load_before = os.getloadavg()
    started = time.perf_counter()
    rows, notes, rounds_used = [], [], []
    for build in cases.all_cases():
        case = build()
        print(f"  timing: {case.name}", file=sys.stderr, flush=True)
        case_rows, case_notes, rounds = run_case(case)
        rows += case_rows
        notes += case_notes
        rounds_used.append(rounds)
        del case
    print("  timing: the cost of a call", file=sys.stderr, flush=True)
    calls_text = calls.section(calls.measure())
    footprints = memory_rows()
    threads_text, threads_summary = threads.section(*threads.measure())
    free_threading_text, free_threading_summary = free_threading.section(
        free_threading.measure_under(os.environ.get("FREE_THREADING_PYTHONS", "").split()))

    method = (f"Medians over {min(rounds_used)} to {max(rounds_used)} interleaved rounds per "
              "case, the contenders in an order shuffled in each round (from a fixed seed), "
              f"after {timing.WARM_UP_ROUNDS} untimed rounds shuffled alike (numba compiles "
              "there), garbage collection paused while timing, 10^6 hourly values unless the "
              "case says otherwise. "
              "Ratio = peer time / hydrokit time, so above 1 means hydrokit is faster. Values: "
              "'identical' is bit for bit against hydrokit over every output.")
    method += (" Every contender runs with the C library's default allocator settings, as in "
               "a user's script.")
    text = "\n\n".join([
        "# Benchmark results",
        "Written by `make bench` (bench/run.py); do not edit by hand.",
        "\n".join(report.machine_facts(load_before)),
        "## Time",
        method,
        report.timing_table(rows),
        calls_text,
        "## Memory",
        "Peak extra resident memory of one call in a fresh interpreter (inputs built "
        "beforehand), against the size of its outputs; the target allows the outputs plus "
        f"{report.mebibytes(memory.CONSTANT_ALLOWANCE)}, much less than one copy of a 10^6-value "
        "input series (7.6 MiB).",
        report.memory_table(footprints),
        threads_text,
        free_threading_text,
        "## Notes",
        "\n".join(f"- {line}" for line in notes + summary(rows, footprints) + threads_summary
                  + free_threading_summary),
        f"Whole run: {time.perf_counter() - started:.0f} s.",
    ]) + "\n"
    (pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else RESULTS).write_text(text)
    print(text)


if __name__ == "__main__":
    main()
