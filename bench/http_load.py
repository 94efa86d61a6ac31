"""Load on the runner's HTTP endpoint against the rounds it must not disturb (run by hand, not in
CI): a site of UNITS simulated units on one Modbus TCP line, each polled every second, first with
no client, then with CLIENTS processes fetching /metrics and /api/units without pause. For each
run: the rounds completed and failed in the window, the units' mean round period and round
duration, and the requests the clients got answered.

The period is measured from the units' own clock: at the window's start and end, /api/units gives
each unit's completed rounds and the age of its data, so the time of its last completed round is
known to the millisecond; the period is the time between those rounds over the rounds between.

Usage: http_load.py SMD_HOST PX46TR_K_SIM [--units 8] [--clients 50] [--seconds 60]
"""
import argparse
import json
import multiprocessing
import os
import re
import signal
import subprocess
import tempfile
import time
import urllib.request


def get(url, timeout=30):
    with urllib.request.urlopen(url, timeout=timeout) as reply:
        return reply.read()


def client(base, stop_at, counts, index):
    done = failed = 0
    paths = ("metrics", "api/units")
    while time.time() < stop_at:
        try:
            get(base + paths[done % 2])
            done += 1
        except OSError:
            failed += 1
    counts[2 * index] = done
    counts[2 * index + 1] = failed


def units_now(base):
    sampled = time.time()
    units = json.loads(get(base + "api/units"))
    return sampled, {u["data_id"]: u for u in units}


def round_seconds(base):
    """Sum and count of every unit's round durations, from the histogram."""
    text = get(base + "metrics").decode()
    total = sum(float(v) for v in re.findall(r"^px46tr_k_round_duration_seconds_sum\{.*\} (\S+)$", text, re.M))
    count = sum(float(v) for v in re.findall(r"^px46tr_k_round_duration_seconds_count\{.*\} (\S+)$", text, re.M))
    return total, count


def run(args, port, clients):
    work = tempfile.mkdtemp(prefix="px46-http-load-")
    site = os.path.join(work, "site.yaml")
    with open(site, "w") as f:
        f.write(f"interval: 1\nlisten: 0\nlines:\n  - link: tcp:127.0.0.1:{port}\n    units:\n")
        for unit in range(1, args.units + 1):
            f.write(f"      - unit: {unit}\n        data_id: {100 + unit}\n")
    log_path = os.path.join(work, "runner.err")
    with open(log_path, "w") as log:
        smd = subprocess.Popen([args.runner, "--site", site, "--rounds", "0"], cwd=work,
                               stdout=subprocess.DEVNULL, stderr=log)
    try:
        while not (found := re.search(r"serving (http://\S+/)", open(log_path).read())):
            assert smd.poll() is None, open(log_path).read()
            time.sleep(0.1)
        base = found.group(1)
        while not all(u["rounds_completed"] >= 2 for u in units_now(base)[1].values()):
            time.sleep(0.2)
        t0, start = units_now(base)
        sum0, count0 = round_seconds(base)
        counts = multiprocessing.Array("l", 2 * max(clients, 1))
        workers = [multiprocessing.Process(target=client, args=(base, t0 + args.seconds, counts, i))
                   for i in range(clients)]
        for w in workers:
            w.start()
        time.sleep(max(0.0, t0 + args.seconds - time.time()))
        for w in workers:
            w.join()
        t1, end = units_now(base)
        sum1, count1 = round_seconds(base)
    finally:
        smd.send_signal(signal.SIGINT)
        smd.wait(timeout=60)
    completed = failed = 0
    periods = []
    for data_id, unit in end.items():
        first = start[data_id]
        rounds = unit["rounds_completed"] - first["rounds_completed"]
        completed += rounds
        failed += unit["rounds_failed"] - first["rounds_failed"]
        last0 = t0 - first["data_age_seconds"]
        last1 = t1 - unit["data_age_seconds"]
        periods.append((last1 - last0) / rounds)
    rounds_timed = count1 - count0
    return {
        "clients": clients,
        "window_s": round(t1 - t0, 1),
        "rounds_completed": completed,
        "rounds_failed": failed,
        "mean_period_s": round(sum(periods) / len(periods), 4),
        "max_period_s": round(max(periods), 4),
        "mean_round_ms": round(1000 * (sum1 - sum0) / rounds_timed, 2) if rounds_timed else None,
        "requests": sum(counts[0::2]),
        "requests_failed": sum(counts[1::2]),
        "requests_per_s": round(sum(counts[0::2]) / args.seconds, 1),
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("runner")
    parser.add_argument("simulator")
    parser.add_argument("--units", type=int, default=8)
    parser.add_argument("--clients", type=int, default=50)
    parser.add_argument("--seconds", type=float, default=60)
    args = parser.parse_args()
    args.runner = os.path.abspath(args.runner)
    sim = subprocess.Popen([args.simulator, "--tcp", "127.0.0.1:0", "--units", f"1-{args.units}"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        port = int(re.search(r"serving tcp:127\.0\.0\.1:(\d+)", sim.stdout.readline()).group(1))
        quiet = run(args, port, 0)
        print(json.dumps(quiet))
        loaded = run(args, port, args.clients)
        print(json.dumps(loaded))
        print(f"period with clients / without: {loaded['mean_period_s'] / quiet['mean_period_s']:.4f}; "
              f"round duration with / without: "
              f"{(loaded['mean_round_ms'] or 0) / (quiet['mean_round_ms'] or 1):.2f}")
    finally:
        sim.send_signal(signal.SIGINT)
        sim.wait(timeout=30)


if __name__ == "__main__":
    main()
