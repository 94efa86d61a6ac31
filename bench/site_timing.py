#!/usr/bin/env python3
"""Timing and memory of a site, measured against the simulator: smd-host --site polling
px46tr_k-sim over a paced serial line and over loopback TCP. Run by hand from the build folder's
programs; each figure is printed beside its physical limit, measured in the same run.

    bench/site_timing.py --bin build/bin rtu      # 8 units on one 9600-baud line, paced
    bench/site_timing.py --bin build/bin tcp      # 4 TCP lines of 8 units against 1 line alone
    bench/site_timing.py --bin build/bin dead     # one dead unit among 8 on a TCP line
    bench/site_timing.py --bin build/bin soak     # 256 units on 32 TCP lines, 10 minutes
    bench/site_timing.py --bin build/bin --quick all   # every part, briefly: no figure to publish

No figure is asserted: the script fails only when a run itself fails (a unit that completes no
round, a history that does not hold the rounds completed)."""
import argparse
import collections
import datetime
import os
import re
import select
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import tty
import zlib

BITS_PER_CHAR = 10  # 8N1: start bit, 8 data bits, stop bit
SILENCE_CHARS = 3.5  # Modbus RTU: the quiet that ends a frame (characters)


class PacedLine:
    """Two pseudo-terminal pairs joined by a relay that carries each byte one character time
    (10 bits at the baud rate) after the line is free, in either direction on one shared line
    (half duplex, as RS-485): the runner opens device_a, the simulator device_b. A byte is handed
    over at the end of its character time, as a UART hands it over. The relay notes each frame
    (bytes from one side without a quiet of 1.5 characters) and the gap before it."""

    def __init__(self, baud):
        self.char = BITS_PER_CHAR / baud
        self.ends = []
        for _ in range(2):
            master, slave = os.openpty()
            tty.setraw(slave)
            self.ends.append((master, slave, os.ttyname(slave)))
        self.device_a, self.device_b = self.ends[0][2], self.ends[1][2]
        self.frames = []  # (side, start, end, bytes, gap before it)
        self._wake = os.pipe()
        self._thread = threading.Thread(target=self._carry, daemon=True)
        self._thread.start()

    def close(self):
        os.write(self._wake[1], b"x")
        self._thread.join()
        for master, slave, _ in self.ends:
            os.close(master)
            os.close(slave)

    def _carry(self):
        masters = [self.ends[0][0], self.ends[1][0]]
        pending = collections.deque()  # (time handed over, to side, byte)
        free_at = 0.0
        while True:
            timeout = None if not pending else max(0.0, pending[0][0] - time.monotonic())
            ready, _, _ = select.select(masters + [self._wake[0]], [], [], timeout)
            if self._wake[0] in ready:
                return
            now = time.monotonic()
            for side, fd in enumerate(masters):
                if fd not in ready:
                    continue
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    continue
                for byte in data:
                    start = max(free_at, now)
                    last = self.frames[-1] if self.frames else None
                    if last and last[0] == side and start - last[2] < 1.5 * self.char:
                        self.frames[-1] = (side, last[1], start + self.char, last[3] + 1, last[4])
                    else:
                        gap = start - last[2] if last else None
                        self.frames.append((side, start, start + self.char, 1, gap))
                    free_at = start + self.char
                    pending.append((free_at, 1 - side, byte))
            now = time.monotonic()
            out = {0: bytearray(), 1: bytearray()}
            while pending and pending[0][0] <= now:
                _, side, byte = pending.popleft()
                out[side].append(byte)
            for side, data in out.items():
                if data:
                    os.write(masters[side], bytes(data))


def silence(baud):
    """The quiet that ends an RTU frame: 3.5 characters, and 1.75 ms above 19200 baud."""
    return 1.75e-3 if baud > 19200 else SILENCE_CHARS * BITS_PER_CHAR / baud


def start_simulator(bins, *args):
    """Starts px46tr_k-sim with `args`; returns the process and its TCP port (0 on RTU)."""
    sim = subprocess.Popen([os.path.join(bins, "px46tr_k-sim"), *args], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    found = re.search(r"serving (?:tcp:[\d.]+:(\d+)|rtu:)", line)
    if not found:
        raise RuntimeError(f"the simulator did not start: {line} {sim.stderr.read()}")
    return sim, int(found.group(1) or 0)


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGINT)
        try:
            process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def site_yaml(lines, interval, line_options=""):
    """lines: [(link, [(unit id, data id, history or None)])]."""
    text = f"interval: {interval}\nlines:\n"
    for link, units in lines:
        text += f"  - link: {link}\n{line_options}    units:\n"
        for unit, data_id, history in units:
            text += f"      - unit: {unit}\n        data_id: {data_id}\n"
            if history:
                text += f"        history: {history}\n"
    return text


class Runner:
    """smd-host --site in `work`, each of its output lines noted with the time it arrived."""

    def __init__(self, bins, work, site_text, *args):
        with open(os.path.join(work, "site.yaml"), "w", encoding="utf-8") as f:
            f.write(site_text)
        self.lines = []  # (monotonic time, text)
        self.process = subprocess.Popen(
            [os.path.join(bins, "smd-host"), "--plugin", os.path.join(bins, "libpx46tr_k.so"), "--site",
             "site.yaml", *args], cwd=work, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for text in self.process.stdout:
            if text.startswith(("line ", "link: ", "smd-host")):
                self.lines.append((time.monotonic(), text.rstrip("\n")))

    def wait(self, timeout=None):
        status = self.process.wait(timeout=timeout)
        self._reader.join()
        return status

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        return self.wait(timeout=60)

    def completed(self):
        """{unit name: (rounds completed, rounds run)} from the summaries."""
        counts = {}
        for _, text in self.lines:
            found = re.match(r"(line \d+ unit \d+ \(data id \d+\)): (\d+) of (\d+) rounds completed$", text)
            if found:
                counts[found.group(1)] = (int(found.group(2)), int(found.group(3)))
        return counts

    def round_times(self):
        """{unit name: {round: time its round line arrived}} for the rounds that published."""
        times = collections.defaultdict(dict)
        for at, text in self.lines:
            found = re.match(r"(line \d+ unit \d+ \(data id \d+\)): round (\d+): 62 reads, record published", text)
            if found:
                times[found.group(1)][int(found.group(2))] = at
        return times


TRACE_LINE = re.compile(r"^(\S+)  (.+?)  (.*)$")


def read_frame_trace(path):
    """Round lines as (time, unit name, round, outcome) and frames as (time, direction, bytes)."""
    rounds, frames = [], []
    with open(path, encoding="utf-8") as f:
        for text in f:
            found = TRACE_LINE.match(text.rstrip("\n"))
            if not found or text.startswith("#"):
                continue
            at = datetime.datetime.fromisoformat(found.group(1)).timestamp()
            rest = found.group(3)
            round_line = re.match(r"round (\d+) (\S+)", rest)
            if round_line:
                rounds.append((at, found.group(2), int(round_line.group(1)), round_line.group(2)))
            elif rest[:3] in ("<  ", ">  "):
                hex_bytes = rest[3:].split("  ")[0]
                frames.append((at, rest[0], len(hex_bytes.split())))
    return rounds, frames


def history_records(path):
    """The records of a history file: "PXRH", length (u32 LE), the record, its CRC-32."""
    records = []
    with open(path, "rb") as f:
        data = f.read()
    at = 0
    while at + 8 <= len(data):
        if data[at:at + 4] != b"PXRH":
            raise RuntimeError(f"{path}: no frame at {at}")
        (length,) = struct.unpack_from("<I", data, at + 4)
        record = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack_from("<I", data, at + 8 + length)
        if zlib.crc32(record) != crc:
            raise RuntimeError(f"{path}: damaged frame at {at}")
        records.append(record)
        at += 12 + length
    return records


def stamp(record):
    """The round stamp at a record's end (year LE, month, day, hour, minute, second), in seconds."""
    year, month, day, hour, minute, second = struct.unpack("<H5B", record[-7:])
    return datetime.datetime(year, month, day, hour, minute, second).timestamp()


def ratio(value, limit):
    return f"{value / limit:.3f}" if limit else "-"


def sweeps(round_times, rounds):
    """Each sweep's end: the time the last unit's round k arrived, k = 1..rounds."""
    return [max(units[k] for units in round_times.values()) for k in range(1, rounds + 1)]


def measure_rtu(args, work):
    """One sweep of 8 units on one paced line against the line time of the frames it carried."""
    baud, units, rounds = (115200, 2, 2) if args.quick else (args.baud, 8, args.rounds or 3)
    line = PacedLine(baud)
    sim, _ = start_simulator(args.bin, "--rtu", f"{line.device_b}:{baud}:N", "--units", f"1-{units}")
    try:
        text = site_yaml([(f"rtu:{line.device_a}:{baud}:N", [(u, 100 + u, None) for u in range(1, units + 1)])],
                         0)
        run = Runner(args.bin, work, text, "--rounds", str(rounds), "--trace-frames", "frames.txt")
        status = run.wait()
    finally:
        stop(sim)
        line.close()
    if status != 0:
        raise RuntimeError("\n".join(t for _, t in run.lines[-20:]))
    trace_rounds, frames = read_frame_trace(os.path.join(work, "frames.txt"))
    char = BITS_PER_CHAR / baud
    print(f"rtu: {units} units, {baud} baud paced ({char * 1e3:.3f} ms a character), {rounds} sweeps")
    results = []
    for k in range(1, rounds + 1):
        started = min(at for at, _, r, what in trace_rounds if r == k and what == "started")
        ended = max(at for at, _, r, what in trace_rounds if r == k and what == "completed")
        carried = [n for at, _, n in frames if started <= at <= ended]
        line_time = sum(carried) * char + silence(baud) * len(carried)
        took = ended - started
        results.append((took, line_time))
        print(f"  sweep {k}: {took:.3f} s, {len(carried)} frames of {sum(carried)} bytes, line time with "
              f"silences {line_time:.3f} s (bytes alone {sum(carried) * char:.3f} s): ratio {ratio(took, line_time)}")
    gaps = {side: sorted(f[4] for f in line.frames if f[0] == side and f[4] is not None) for side in (0, 1)}
    for side, name in ((0, "before a request (runner)"), (1, "before a reply (simulator)")):
        if gaps[side]:
            print(f"  quiet {name}: min {gaps[side][0] / char:.2f}, median "
                  f"{statistics.median(gaps[side]) / char:.2f} characters")
    return results


def sweep_of_lines(args, work, sims, rounds):
    """The mean sweep of the site made of `sims` (one line each), from sweep 1's end to the last's."""
    text = site_yaml([(f"tcp:127.0.0.1:{port}", [(u, 1000 * (i + 1) + u, None) for u in range(1, 9)])
                      for i, port in enumerate(sims)], 0)
    run = Runner(args.bin, work, text, "--rounds", str(rounds))
    if run.wait() != 0:
        raise RuntimeError("\n".join(t for _, t in run.lines[-20:]))
    ends = sweeps(run.round_times(), rounds)
    return (ends[-1] - ends[0]) / (rounds - 1)


def measure_tcp(args, work):
    """4 TCP lines of 8 units at once against each line alone, in the same run."""
    lines, rounds = (2, 5) if args.quick else (4, args.rounds or 200)
    repeats = 1 if args.quick else 3
    sims = [start_simulator(args.bin, "--tcp", "127.0.0.1:0", "--units", "1-8") for _ in range(lines)]
    alone, together = collections.defaultdict(list), []
    try:
        ports = [port for _, port in sims]
        # Alone and together in turn, so that a change in the machine's load touches both.
        for _ in range(repeats):
            for port in ports:
                alone[port].append(sweep_of_lines(args, work, [port], rounds))
            together.append(sweep_of_lines(args, work, ports, rounds))
    finally:
        for sim, _ in sims:
            stop(sim)
    medians = [statistics.median(sweeps) for sweeps in alone.values()]
    slowest, site = max(medians), statistics.median(together)
    print(f"tcp: {lines} lines of 8 units, {rounds} sweeps a run, interval 0, {repeats} runs of each")
    for i, sweeps in enumerate(alone.values()):
        print(f"  line {i + 1} alone: {', '.join(f'{s * 1e3:.1f}' for s in sweeps)} ms a sweep")
    print(f"  {lines} lines at once: {', '.join(f'{s * 1e3:.1f}' for s in together)} ms a sweep")
    print(f"  medians: {site * 1e3:.1f} ms at once, {slowest * 1e3:.1f} ms the slowest line alone: ratio "
          f"{ratio(site, slowest)}")
    return site, slowest


def measure_dead(args, work):
    """One dead unit among 8 on a line (TCP, or RTU paced at --baud with --dead-rtu): the others'
    round periods with and without its attempts."""
    seconds, interval, timeout, retries = (8, 1, 0.3, 1) if args.quick else (args.seconds or 120, 1, 0.5, 1)
    line = None
    if args.dead_rtu:
        interval = 5  # 7 units' rounds take about 3 s at 115200 baud
        line = PacedLine(args.baud)
        sim, _ = start_simulator(args.bin, "--rtu", f"{line.device_b}:{args.baud}:N", "--units", "1-8",
                                 "--dead-unit", "8")
        link = f"rtu:{line.device_a}:{args.baud}:N"
    else:
        sim, port = start_simulator(args.bin, "--tcp", "127.0.0.1:0", "--units", "1-8", "--dead-unit", "8")
        link = f"tcp:127.0.0.1:{port}"
    try:
        text = site_yaml([(link, [(u, 100 + u, None) for u in range(1, 9)])], interval,
                         f"    timeout: {timeout}\n    retries: {retries}\n")
        run = Runner(args.bin, work, text, "--rounds", "0", "--trace-frames", "frames.txt")
        time.sleep(seconds)
        run.interrupt()
    finally:
        stop(sim)
        if line:
            line.close()
    trace_rounds, _ = read_frame_trace(os.path.join(work, "frames.txt"))
    dead = "line 1 unit 8 (data id 108)"
    starts = collections.defaultdict(dict)
    attempts = {}
    for at, name, k, what in trace_rounds:
        if what == "started":
            starts[name][k] = at
        elif name == dead:
            attempts[k] = (starts[name][k], at)
    cost = timeout * (retries + 1)
    spans = sorted(attempts.values())
    print(f"dead: 8 units on one {link.split(':')[0]} line, unit 8 dead; interval {interval} s, timeout {timeout} s, "
          f"retries {retries}, {seconds} s")
    print(f"  the dead unit's attempts: {len(spans)}, each "
          f"{min(e - s for s, e in spans):.3f} to {max(e - s for s, e in spans):.3f} s "
          f"(time-out x (retries + 1) = {cost:.3f} s)")
    with_attempt, without = [], []
    for name, by_round in starts.items():
        if name == dead:
            continue
        ks = sorted(by_round)
        for a, b in zip(ks, ks[1:]):
            begin, end = by_round[a], by_round[b]
            growth = end - begin - interval
            overlapping = sum(1 for s, e in spans if s < end and e > begin)
            (with_attempt if overlapping else without).append((growth, overlapping))
    worst = max(g / n for g, n in with_attempt) if with_attempt else 0
    print(f"  the others' periods spanning an attempt: {len(with_attempt)}, growth up to "
          f"{max((g for g, _ in with_attempt), default=0):.3f} s; per attempt at most {worst:.3f} s, "
          f"ratio to time-out x (retries + 1) {ratio(worst, cost)}")
    print(f"  the others' periods between attempts: {len(without)}, growth "
          f"{min((g for g, _ in without), default=0):+.3f} to {max((g for g, _ in without), default=0):+.3f} s (the trace's "
          f"times are to the millisecond)")
    return worst, cost


def rss_kb(pid):
    with open(f"/proc/{pid}/status", encoding="ascii") as f:
        for text in f:
            if text.startswith("VmRSS:"):
                return int(text.split()[1])
    return 0


def soak_site(args, work, lines, rounds, interval, sample_every):
    """A site of `lines` TCP lines of 8 units (1 line of 1 unit when lines is 0) for `rounds`
    rounds a unit; returns the runner, its resident memory samples and its wall time."""
    os.makedirs(work, exist_ok=True)
    # Drifting units: every record differs from the one before, so a record stored twice shows.
    sims = [start_simulator(args.bin, "--tcp", "127.0.0.1:0", "--units", "1-8", "--drift")
            for _ in range(max(1, lines))]
    per_line = 8 if lines else 1
    try:
        text = site_yaml([(f"tcp:127.0.0.1:{port}",
                           [(u, 1000 * (i + 1) + u, f"h{1000 * (i + 1) + u}.bin") for u in range(1, per_line + 1)])
                          for i, (_, port) in enumerate(sims)], interval)
        started = time.monotonic()
        run = Runner(args.bin, work, text, "--rounds", str(rounds))
        samples = []
        while run.process.poll() is None:
            try:
                samples.append((time.monotonic() - started, rss_kb(run.process.pid)))
            except OSError:
                break
            time.sleep(sample_every)
        status = run.wait()
        took = time.monotonic() - started
    finally:
        for sim, _ in sims:
            stop(sim)
    if status != 0:
        raise RuntimeError("\n".join(t for _, t in run.lines[-20:]))
    return run, samples, took


def measure_soak(args, work):
    """256 units on 32 TCP lines for 10 minutes beside one unit alone, the same way at once."""
    lines, rounds, every = (2, 5, 1) if args.quick else (32, args.rounds or 600, 10)
    interval = 1
    results = {}

    def one(key, n):
        results[key] = soak_site(args, os.path.join(work, key), n, rounds, interval, every)

    alone = threading.Thread(target=one, args=("one", 0))
    alone.start()
    one("site", lines)
    alone.join()
    print(f"soak: {lines * 8} units on {lines} TCP lines and, at once, 1 unit alone; interval {interval} s, "
          f"{rounds} rounds a unit, resident memory every {every} s")
    for key, units in (("one", 1), ("site", lines * 8)):
        run, samples, took = results[key]
        counts = run.completed()
        done = sorted({c for c in counts.values()})
        stored = collections.Counter()
        spans = []  # seconds from each unit's first record to its last, by their stamps
        for name in counts:
            data_id = re.search(r"data id (\d+)", name).group(1)
            records = history_records(os.path.join(work, key, f"h{data_id}.bin"))
            stored["records"] += len(records)
            stored["distinct"] += len(set(records))
            stored["equal"] += len(records) == counts[name][0]
            spans.append(stamp(records[-1]) - stamp(records[0]))
        after_minute = [kb for t, kb in samples if t >= 60] or [samples[-1][1]]
        print(f"  {key}: {units} units, {took:.1f} s for {rounds} rounds (the interval allows "
              f"{(rounds - 1) * interval} s and a round); rounds completed of run {done}")
        print(f"    first to last record of a unit, by their stamps: {min(spans):.0f} to {max(spans):.0f} s "
              f"for {(rounds - 1) * interval} s of intervals")
        print(f"    history: {stored['records']} records, {stored['distinct']} distinct, "
              f"{stored['equal']} of {len(counts)} units hold one per round completed")
        print(f"    VmRSS after the first minute: {min(after_minute)} to {max(after_minute)} kB, "
              f"last {samples[-1][1]} kB; samples " + " ".join(str(kb) for _, kb in samples))
    one_unit = max(kb for t, kb in results["one"][1])
    site = max(kb for t, kb in results["site"][1])
    print(f"  the site's peak {site} kB against {lines * 8} x one unit's peak ({one_unit} kB): ratio "
          f"{ratio(site, lines * 8 * one_unit)}; a unit more costs {(site - one_unit) / (lines * 8 - 1):.0f} kB")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", default="build/bin", help="the folder of smd-host, px46tr_k-sim and the plug-in")
    parser.add_argument("--quick", action="store_true", help="every part briefly, to see that it runs")
    parser.add_argument("--baud", type=int, default=9600, help="rtu: the paced line's baud rate")
    parser.add_argument("--rounds", type=int, default=0, help="rounds a unit (each part has its own default)")
    parser.add_argument("--seconds", type=int, default=0, help="dead: how long to run")
    parser.add_argument("--dead-rtu", action="store_true", help="dead: on a paced serial line at --baud")
    parser.add_argument("part", choices=["rtu", "tcp", "dead", "soak", "all"])
    args = parser.parse_args()
    args.bin = os.path.abspath(args.bin)
    print(f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}, {os.cpu_count()} cores")
    parts = {"rtu": measure_rtu, "tcp": measure_tcp, "dead": measure_dead, "soak": measure_soak}
    for name, measure in parts.items():
        if args.part in (name, "all"):
            with tempfile.TemporaryDirectory(prefix=f"site-{name}-") as work:
                measure(args, work)
    print(f"load average {' '.join(f'{x:.2f}' for x in os.getloadavg())}")


if __name__ == "__main__":
    sys.exit(main())
