#!/usr/bin/env python3
"""Per-thread CPU and wake-ups of running processes over a window of time, from /proc.

    threads.py SECONDS PID [PID ...]          prints a table per process and a summary line
    threads.py --json SECONDS PID [PID ...]   prints one JSON object per process

CPU is each thread's time on a processor over the window, in % of one core: from its schedstat in
nanoseconds where the kernel keeps one, else utime + stime in clock ticks (a tick is 10 ms, too
coarse for the fractions of a per cent a player at rest or playing uses). Wake-ups are
the thread's voluntary context switches over the window (each one is a sleep that ended), per
second; involuntary switches are counted apart. Threads that start or end inside the window are
counted from their first or to their last sample. Peak RSS is the process's VmHWM at the end.
"""
import json
import os
import sys
import time

HZ = os.sysconf("SC_CLK_TCK")


def read_thread(pid, tid):
    base = f"/proc/{pid}/task/{tid}"
    with open(f"{base}/stat") as f:
        stat = f.read()
    # The name is in parentheses and may hold blanks; the fields after it are fixed.
    name = stat[stat.index("(") + 1:stat.rindex(")")]
    fields = stat[stat.rindex(")") + 2:].split()
    # CPU time in seconds: nanoseconds on a processor where the kernel counts them.
    try:
        with open(f"{base}/schedstat") as f:
            cpu = int(f.read().split()[0]) / 1e9
    except (FileNotFoundError, IndexError, ValueError):
        cpu = (int(fields[11]) + int(fields[12])) / HZ
    vol = invol = 0
    with open(f"{base}/status") as f:
        for line in f:
            if line.startswith("voluntary_ctxt_switches:"):
                vol = int(line.split()[1])
            elif line.startswith("nonvoluntary_ctxt_switches:"):
                invol = int(line.split()[1])
    return name, cpu, vol, invol


def sample(pid):
    result = {}
    try:
        tids = os.listdir(f"/proc/{pid}/task")
    except FileNotFoundError:
        return result
    for tid in tids:
        try:
            result[tid] = read_thread(pid, tid)
        except (FileNotFoundError, ProcessLookupError, ValueError):
            pass
    return result


def status_kb(pid, field):
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except FileNotFoundError:
        pass
    return 0


def measure(seconds, pids):
    before = {pid: sample(pid) for pid in pids}
    t0 = time.monotonic()
    time.sleep(seconds)
    elapsed = time.monotonic() - t0
    after = {pid: sample(pid) for pid in pids}
    reports = []
    for pid in pids:
        rows = []
        for tid, (name, cpu, vol, invol) in after[pid].items():
            _, cpu0, v0, i0 = before[pid].get(tid, (name, 0, 0, 0))
            rows.append({
                "tid": int(tid),
                "name": name,
                "cpu_percent": 100.0 * (cpu - cpu0) / elapsed,
                "wakeups_per_s": (vol - v0) / elapsed,
                "preempted_per_s": (invol - i0) / elapsed,
            })
        # Threads that ended inside the window still used CPU; they show under their last name.
        for tid, (name, _, vol, invol) in before[pid].items():
            if tid not in after[pid]:
                rows.append({"tid": int(tid), "name": name + " (ended)", "cpu_percent": 0.0,
                             "wakeups_per_s": 0.0, "preempted_per_s": 0.0})
        rows.sort(key=lambda r: (-r["cpu_percent"], -r["wakeups_per_s"]))
        reports.append({
            "pid": pid,
            "seconds": elapsed,
            "cpu_percent": sum(r["cpu_percent"] for r in rows),
            "wakeups_per_s": sum(r["wakeups_per_s"] for r in rows),
            "peak_rss_kb": status_kb(pid, "VmHWM"),
            "rss_kb": status_kb(pid, "VmRSS"),
            "threads": rows,
        })
    return reports


def main(argv):
    as_json = argv and argv[0] == "--json"
    if as_json:
        argv = argv[1:]
    if len(argv) < 2:
        sys.exit(__doc__)
    seconds = float(argv[0])
    pids = [int(p) for p in argv[1:]]
    for report in measure(seconds, pids):
        if as_json:
            print(json.dumps(report))
            continue
        print(f"pid {report['pid']}: CPU {report['cpu_percent']:.3f} % of one core, "
              f"{report['wakeups_per_s']:.1f} wake-ups/s, peak RSS {report['peak_rss_kb'] / 1024:.1f} MB "
              f"over {report['seconds']:.1f} s")
        for r in report["threads"]:
            print(f"  {r['tid']:>8} {r['name']:<18} CPU {r['cpu_percent']:7.3f} %  "
                  f"wake-ups {r['wakeups_per_s']:7.1f}/s  preempted {r['preempted_per_s']:5.1f}/s")


if __name__ == "__main__":
    main(sys.argv[1:])
