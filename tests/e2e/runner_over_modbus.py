"""smd-host against px46tr_k-sim over loopback Modbus TCP, both as programs: full rounds give the
record the in-process unit gives for the same scenario, --rounds 0 ends cleanly on Ctrl-C, and a
unit that is gone makes rounds fail quickly instead of hanging. The link options meet the faults
they are for (a busy unit, a gateway not ready after connecting), RS-485 settings are refused by a
pseudo-terminal, a serial line reaches the simulator through a socat TCP bridge, and the packet
capture decodes in tshark. Each exit status of docs/runner.md's table is met once."""
import json
import os
import pty
import re
import select
import shutil
import socket
import struct
import signal
import subprocess
import sys
import tempfile
import threading
import time

runner, simulator, examples = sys.argv[1], sys.argv[2], sys.argv[3]
# The run that stands for each row of the exit-status table: the status, and what its standard
# error says.
exit_statuses = {}
# The frame trace's time stamps: local time with milliseconds and the offset from UTC.
stamp = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d"


def start_simulator(*args, served="unit 1"):
    sim = subprocess.Popen([simulator, "--tcp", "127.0.0.1:0", *args],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    found = re.search(r"serving tcp:127\.0\.0\.1:(\d+) " + served + "$", line)
    assert found, (line, sim.stderr.read() if sim.poll() is not None else "")
    return sim, int(found.group(1))


def stop(sim):
    sim.send_signal(signal.SIGINT)
    out, err = sim.communicate(timeout=20)
    assert sim.returncode == 0, (sim.returncode, err)
    return out


def records(trace_path):
    with open(trace_path, encoding="utf-8") as trace:
        calls = [json.loads(line) for line in trace]
    return [bytes.fromhex(c["args"][1]) for c in calls if c["call"] == "SendSP"]


with tempfile.TemporaryDirectory() as work:
    registers = os.path.join(work, "r.json")
    dump = subprocess.run([simulator, "--dump-registers", registers], capture_output=True, text=True, timeout=30)
    assert dump.returncode == 0, dump.stderr
    # The default scenario's numbers as the shortest text that reads back as each: 86.42, never
    # 86.420000000000002 (Python's repr is that text).
    printed = subprocess.run([simulator, "--print-scenario"], capture_output=True, text=True, timeout=30)
    assert printed.returncode == 0, printed.stderr
    numbers = re.findall(r"(?<=: )-?\d+\.\d+(?:e-?\d+)?(?=,?\n)", printed.stdout)
    assert len(numbers) > 500 and "86.42" in numbers, numbers[:20]
    assert all(n == repr(float(n)) for n in numbers), [n for n in numbers if n != repr(float(n))][:5]
    endless = subprocess.run([simulator, "--scenario", "/dev/zero"], capture_output=True, text=True, timeout=30)
    assert endless.returncode == 1, (endless.returncode, endless.stderr)
    assert "scenario file /dev/zero is larger than 4 MiB: not read" in endless.stderr, endless.stderr

    sim, port = start_simulator()
    try:
        wire_trace = os.path.join(work, "wire.jsonl")
        run = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}", "--rounds", "3", "--interval", "0",
                              "--timeout", "5", "--trace", wire_trace],
                             cwd=work, capture_output=True, text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        for n in (1, 2, 3):
            assert re.search(rf"round {n}: 62 reads, record published .*; [0-9.]+ s, 62 requests, 0 failures",
                             run.stderr), run.stderr
        assert "rounds completed 3, abandoned 0" in run.stderr, run.stderr

        local_trace = os.path.join(work, "local.jsonl")
        local = subprocess.run([runner, "--unit", "sim", "--registers", registers, "--rounds", "1",
                                "--trace", local_trace], cwd=work, capture_output=True, text=True, timeout=60)
        assert local.returncode == 0, local.stderr
        wire_records, local_records = records(wire_trace), records(local_trace)
        assert len(wire_records) == 3 and len(local_records) == 1
        # Everything but the completion time (the last 7 bytes) is the same.
        assert wire_records[0][:3914] == local_records[0][:3914]
        assert wire_records[2][:3914] == local_records[0][:3914]

        # A write asked for after rounds that Ctrl-C ended is not sent.
        polling = subprocess.Popen([runner, "--unit", f"tcp:127.0.0.1:{port}", "--rounds", "0",
                                    "--interval", "0.05", "--timeout", "5", "--write", "300=7"],
                                   cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        seen = []
        for line in polling.stderr:
            seen.append(line)
            if line.startswith("round 3:"):
                break
        polling.send_signal(signal.SIGINT)
        rest = polling.communicate(timeout=30)[1]
        assert polling.returncode == 4, (polling.returncode, rest)
        assert "interrupted" in rest and "link: requests" in rest, rest
        assert "write 300=7: not sent, the rounds were interrupted" in rest, rest

        # Requests the unit refuses are answered at once, whatever the exception: a master that
        # waits a quarter of a second (the simulator's own time-out is twice that) gets them.
        with socket.create_connection(("127.0.0.1", port), timeout=0.25) as raw:
            for pdu, code in ((struct.pack(">BHH", 3, 0, 0), 3), (struct.pack(">BHH", 3, 0, 126), 3),
                              (struct.pack(">BHHBH", 16, 300, 1, 4, 7), 3), (struct.pack(">BHH", 3, 2000, 1), 2)):
                raw.sendall(struct.pack(">HHHB", 9, 0, len(pdu) + 1, 1) + pdu)
                reply = raw.recv(64)
                assert reply[7:9] == bytes([pdu[0] | 0x80, code]), (pdu.hex(), reply.hex())

        # A unit id the server does not serve gets no reply: the round line says what to check. A
        # server addressed directly answers 0 and 255 as well as its own.
        for unit_id, status, said in ((5, 3, "no reply from unit 5 within 0.3 s, check the unit id; "),
                                      (0, 0, "round 1: 62 reads, record published"),
                                      (255, 0, "round 1: 62 reads, record published")):
            unit_run = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}:{unit_id}", "--timeout", "0.3",
                                       "--retries", "0"], cwd=work, capture_output=True, text=True, timeout=60)
            assert unit_run.returncode == status, (unit_id, unit_run.returncode, unit_run.stderr)
            assert said in unit_run.stderr, (unit_id, unit_run.stderr)

        # Ctrl-C in the middle of a round ends the run without counting that round as failed.
        slow, slow_port = start_simulator("--delay", "20")
        try:
            cut = subprocess.Popen([runner, "--unit", f"tcp:127.0.0.1:{slow_port}", "--rounds", "0", "--interval", "0"],
                                   cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            for line in cut.stderr:
                if line.startswith("round 1:"):
                    break
            time.sleep(0.3)
            cut.send_signal(signal.SIGINT)
            rest = cut.communicate(timeout=30)[1]
            assert cut.returncode == 0, (cut.returncode, rest)
            assert re.search(r"^round 2: interrupted at step \d+ of 62$", rest, re.M), rest
            assert "not completed" not in rest and "rounds completed\n" not in rest, rest
        finally:
            stop(slow)

        # A write the unit refuses says so, leaves a trace line and fails the run.
        refused = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}", "--write", "2000=1",
                                  "--trace", "w.jsonl"], cwd=work, capture_output=True, text=True, timeout=60)
        exit_statuses[4] = (refused, "smd-host: the write was not confirmed\n")
        assert refused.returncode == 4, (refused.returncode, refused.stderr)
        assert "write 2000=1: refused by the unit: exception 02 (illegal data address)\n" in refused.stderr, \
            refused.stderr
        with open(os.path.join(work, "w.jsonl"), encoding="utf-8") as trace:
            assert any('"request failed"' in line and "exception 02" in line for line in trace)

        # The view marks the rounds after the unit died: where they stopped, and the data's age.
        viewing = subprocess.Popen([runner, "--unit", f"tcp:127.0.0.1:{port}", "--rounds", "4", "--view",
                                    "--interval", "0.5", "--timeout", "1"],
                                   cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        frames = ""
        for line in viewing.stdout:
            frames += line
            if line.startswith("px46tr_k  round 2 "):
                stop(sim)
                break
        rest, viewing_errors = viewing.communicate(timeout=60)
        frames = (frames + rest).replace("\n  ", " ")
        assert viewing.returncode == 0, viewing.returncode
        viewing.stderr = viewing_errors
        exit_statuses[0] = (viewing, "smd-host: 2 of 4 rounds completed\n")
        assert "round completed; data of " in frames, frames
        late = frames[frames.index("px46tr_k  round 4 "):]
        assert re.search(r"ROUND NOT COMPLETED at step \d+ of 62 \(.*\); data of \d\d:\d\d:\d\d, \d+ s old", late), \
            late
    finally:
        if sim.poll() is None:
            out = stop(sim)
            assert "stopped after" in out, out

    # Several units on one line: units 1 and 2 answer from images of their own (unit 2's as
    # --dump-registers --unit 2 writes it), a dead unit and an id the line does not serve get no
    # reply, and the simulator counts each unit's requests.
    units_sim, units_port = start_simulator("--units", "1-3", "--dead-unit", "3", served=r"units 1-3 \(dead 3\)")
    try:
        unit_records = {}
        for unit_id in (1, 2):
            trace = os.path.join(work, f"unit{unit_id}.jsonl")
            answered = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{units_port}:{unit_id}", "--trace", trace],
                                      cwd=work, capture_output=True, text=True, timeout=60)
            assert answered.returncode == 0, (unit_id, answered.stderr)
            unit_records[unit_id] = records(trace)[0][:3914]
        for unit_id in (3, 7):
            unanswered = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{units_port}:{unit_id}", "--timeout", "0.3",
                                         "--retries", "0"], cwd=work, capture_output=True, text=True, timeout=60)
            assert unanswered.returncode == 3, (unit_id, unanswered.stderr)
            assert f"no reply from unit {unit_id} within 0.3 s" in unanswered.stderr, unanswered.stderr
    finally:
        units_out = stop(units_sim)
    assert "stopped after 125 requests (unit 1: 62, unit 2: 62, unit 3: 1)" in units_out, units_out
    registers_2 = os.path.join(work, "r2.json")
    dump = subprocess.run([simulator, "--dump-registers", registers_2, "--unit", "2"], capture_output=True, text=True,
                          timeout=30)
    assert dump.returncode == 0, dump.stderr
    local_2 = subprocess.run([runner, "--unit", "sim", "--registers", registers_2, "--rounds", "1", "--trace",
                              "local2.jsonl"], cwd=work, capture_output=True, text=True, timeout=60)
    assert local_2.returncode == 0, local_2.stderr
    assert unit_records[1] == local_records[0][:3914]
    assert unit_records[2] == records(os.path.join(work, "local2.jsonl"))[0][:3914]
    assert unit_records[1] != unit_records[2]
    for args, said in ((["--unit", "2", "--units", "1-3"], "--unit and --units exclude each other"),
                       (["--units", "1-3", "--drop", "5@9"], "--drop '5@9': unit 9 is not served"),
                       (["--units", "3-1"], "--units '3-1': '3-1' runs backwards"),
                       (["--units", "1-2", "--drop", "5@2", "--drop", "7@2"], "--drop is given twice for unit 2")):
        refused = subprocess.run([simulator, "--tcp", "127.0.0.1:0", *args], capture_output=True, text=True, timeout=30)
        assert refused.returncode == 2 and said in refused.stderr, (args, refused.returncode, refused.stderr)

    # A site's view: 2 lines of 4 units, 2 rounds each; the last frame lists every unit and shows
    # the one asked for in detail, and the rounds' lines give way to the view while the summaries
    # stay.
    site_sims = [start_simulator("--units", "1-4", served="units 1-4") for _ in range(2)]
    try:
        with open(os.path.join(work, "view-site.yaml"), "w", encoding="utf-8") as f:
            f.write("interval: 0\nlines:\n" + "".join(
                f"  - link: tcp:127.0.0.1:{site_port}\n    units:\n" +
                "".join(f"      - unit: {u}\n        data_id: {100 * n + u}\n" for u in range(1, 5))
                for n, (_, site_port) in enumerate(site_sims, 1)))
        site_view = subprocess.run([runner, "--site", "view-site.yaml", "--view", "--rounds", "2",
                                    "--view-unit", "203"], cwd=work,
                                   capture_output=True, text=True, timeout=60)
    finally:
        for site_sim, _ in site_sims:
            stop(site_sim)
    assert site_view.returncode == 0, (site_view.returncode, site_view.stderr)
    assert "\x1b" not in site_view.stdout and "rvSize is" not in site_view.stdout, site_view.stdout
    last = site_view.stdout[site_view.stdout.rindex("Line Unit    Data id  State "):]
    for n in (1, 2):
        for u in range(1, 5):
            assert re.search(rf"\n +{n} +{u} +{100 * n + u}  completed ", last), (n, u, last)
    assert "\nline 2 unit 3 (data id 203)  round 2  profile 1  " in last, last
    assert ": round " not in site_view.stderr, site_view.stderr
    assert site_view.stderr.count(" of 2 rounds completed\n") == 8, site_view.stderr

    # Link options against the faults they are for: simulator faults, runner options, exit status,
    # what the link line or the round lines say. Each case gets a fresh simulator.
    link_cases = (
        (["--exception", "5:6"], [], 3,
         r"(?s)busy\); a unit busy while it measures needs --busy-retries\).*exceptions 2, retries 0, busy retries 0, "),
        (["--exception", "5:6"], ["--busy-retries", "1", "--busy-wait", "0"], 0,
         r"replies 124, failures 0, time-outs 0, exceptions 30, retries 0, busy retries 30, reconnects 0, "
         r"rounds completed 2"),
        (["--exception", "1:6"], ["--busy-retries", "2", "--busy-wait", "0.01"], 3,
         r"unit 1 answered exception 06 \(server device busy\), still after 2 busy retries"),
        ([], ["--close-after-round"], 0, "reconnects 1, rounds completed 2, abandoned 0"),
        # The unit's real reply reaches the device: a multiple write confirmed with another count.
        (["--wrong-write-count"], ["--write", "300=1,2,3"], 4, r"write 300=1,2,3: not confirmed by the unit \(outcome 3\)"),
        (["--ready-after", "500"], ["--timeout", "0.3", "--retries", "0"], 3,
         r"no reply from unit 1 within 0.3 s, check the unit id; a gateway that drops a request sent right after "
         r"connecting needs --pause-after-connect\)"),
        (["--ready-after", "500"], ["--timeout", "0.3", "--retries", "0", "--pause-after-connect", "2"], 0,
         "reconnects 0, rounds completed 2, abandoned 0"),
        # A pause shorter than the gateway's: milliseconds read as microseconds would let it through.
        (["--ready-after", "500"], ["--timeout", "0.3", "--retries", "0", "--pause-after-connect", "0.1"], 3,
         "no reply from unit 1 within 0.3 s"),
    )
    # A frame trace that cannot be written is an error of the run, as every file the runner writes.
    full_sim, full_port = start_simulator()
    try:
        full = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{full_port}", "--rounds", "1",
                               "--trace-frames", "/dev/full"], cwd=work, capture_output=True, text=True, timeout=60)
    finally:
        stop(full_sim)
    assert full.returncode == 1 and "smd-host: cannot write the frame trace /dev/full" in full.stderr, full.stderr
    exit_statuses[1] = (full, "smd-host: cannot write the frame trace /dev/full: No space left on device\n")

    # The capture: refused with the simulated unit, refused before any round when it cannot be
    # written, and two rounds, each on a connection of its own, as two whole TCP conversations of
    # 124 Modbus frames each.
    on_sim = subprocess.run([runner, "--capture", "c.pcap"], cwd=work, capture_output=True, text=True, timeout=60)
    assert on_sim.returncode == 2, on_sim.stderr
    assert "--capture applies to a real line (--unit tcp: or rtu:)" in on_sim.stderr, on_sim.stderr
    capture = os.path.join(work, "c.pcap")
    nowhere = os.path.join(work, "missing", "c.pcap")
    capture_sim, capture_port = start_simulator()
    try:
        unwritable = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{capture_port}", "--capture", nowhere],
                                    cwd=work, capture_output=True, text=True, timeout=60)
        captured = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{capture_port}", "--rounds", "2",
                                   "--interval", "0", "--close-after-round", "--capture", capture],
                                  cwd=work, capture_output=True, text=True, timeout=60)
    finally:
        stop(capture_sim)
    assert unwritable.returncode == 2, unwritable.stderr
    assert unwritable.stderr == f"smd-host: --capture {nowhere} cannot be written: No such file or directory\n", \
        unwritable.stderr
    assert captured.returncode == 0, captured.stderr
    decoded = subprocess.run(["tshark", "-r", capture, "-o", f"mbtcp.tcp.port:{capture_port}", "-T", "fields",
                              "-e", "tcp.stream", "-e", "tcp.flags.fin", "-e", "modbus.func_code"],
                             capture_output=True, text=True, timeout=60)
    assert decoded.returncode == 0, decoded.stderr
    rows = [line.split("\t") for line in decoded.stdout.splitlines()]
    for stream in ("0", "1"):
        mine = [row for row in rows if row[0] == stream]
        assert sum(row[2] == "3" for row in mine) == 124, (stream, len(mine))
        assert sum(row[1] == "1" for row in mine) == 2, (stream, "a FIN each way")
    assert {row[0] for row in rows} == {"0", "1"}, rows[-1]
    frames = os.path.join(work, "frames.txt")
    for case_number, (sim_args, runner_args, status, expected) in enumerate(link_cases, start=1):
        case_sim, case_port = start_simulator(*sim_args)
        try:
            case = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{case_port}", "--rounds", "2", "--interval", "0",
                                   "--trace-frames", frames, *runner_args],
                                  cwd=work, capture_output=True, text=True, timeout=60)
        finally:
            stop(case_sim)
        assert case.returncode == status, (sim_args, runner_args, case.returncode, case.stderr)
        assert re.search(expected, case.stderr), (sim_args, runner_args, case.stderr)
        # The frame trace never spills into the runner's own output.
        assert "ERROR" not in case.stderr and "  >  00 " not in case.stdout, case
        # Each run appends to the trace after a header line of its own.
        with open(frames, encoding="utf-8") as trace:
            lines = trace.read().splitlines()
        headers = [n for n, line in enumerate(lines) if line.startswith("# smd-host ")]
        assert len(headers) == case_number and headers[0] == 0, headers
        lines = lines[headers[-1] + 1:]
        requests = int(re.search(r"link: requests (\d+)", case.stderr).group(1))
        assert sum("  >  " in line for line in lines) >= requests, (requests, lines[:4])
        link = rf"{stamp}  tcp:127\.0\.0\.1:{case_port} unit 1  "
        assert all(re.fullmatch(link + r"([<>]  [0-9A-F]{2}( [0-9A-F]{2})*  \S.*|round [12] (started|completed|stopped "
                                r"at step \d+ of 62 .*)|(re)?connected [0-9.:]+ to [0-9.:]+|closed: .+|! .+)", line)
                   for line in lines), [line for line in lines if "  >  " not in line and "  <  " not in line]
        assert sum(re.search(r"  round \d (completed|stopped)", line) is not None for line in lines) == 2, lines
        if sim_args[:1] == ["--exception"]:
            assert any(line.endswith("<  00 00 00 00 00 03 01 83 06  83 exception 06 (server device busy)  "
                                     + line.rsplit("  ", 1)[1]) for line in lines), lines[:12]

    # Serial devices named with colons, as /dev/serial/by-path names adapters: two pseudo-terminals
    # joined back to back stand for a null-modem cable.
    ends = [os.openpty() for _ in range(2)]
    links = [os.path.join(work, f"pci-0000:00:14.0-usb-0:2:1.0-port{n}") for n in range(2)]
    for link, (_, follower) in zip(links, ends):
        os.symlink(os.ttyname(follower), link)

    def cable():
        leaders = [leader for leader, _ in ends]
        while True:
            for ready in select.select(leaders, [], [], 0.5)[0]:
                try:
                    data = os.read(ready, 4096)
                except OSError:
                    return
                os.write(leaders[1 - leaders.index(ready)], data)

    threading.Thread(target=cable, daemon=True).start()
    serial_sim = subprocess.Popen([simulator, "--rtu", links[0] + ":19200:E", "--units", "1,2"], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
    try:
        line = serial_sim.stdout.readline()
        assert f"serving rtu:{links[0]}" in line and line.endswith(" units 1,2\n"), \
            (line, serial_sim.stderr.read() if serial_sim.poll() else "")
        # Both units of the line answer; an address it does not serve gets no reply.
        for unit_id, status in ((1, 0), (2, 0), (5, 3)):
            serial = subprocess.run([runner, "--unit", f"rtu:{links[1]}:19200:8E1:{unit_id}", "--timeout", "2"],
                                    cwd=work, capture_output=True, text=True, timeout=60)
            assert serial.returncode == status, (unit_id, serial.stderr)
            assert ("round 1: 62 reads, record published" if status == 0 else "no reply from unit 5 within 2 s") \
                in serial.stderr, serial.stderr
        # A pseudo-terminal has no RS-485 mode and no RTS line: the run stops, naming both.
        for asked, refused in ((["--rs485"], "--rs485"), (["--rts", "up", "--rts-delay", "500"], "--rts")):
            rs485 = subprocess.run([runner, "--unit", f"rtu:{links[1]}:19200:E:1", *asked], cwd=work,
                                   capture_output=True, text=True, timeout=60)
            assert rs485.returncode == 2, (asked, rs485.returncode, rs485.stderr)
            assert rs485.stderr == f"smd-host: {links[1]} refuses {refused}: Inappropriate ioctl for device\n", \
                rs485.stderr
    finally:
        stop(serial_sim)

    # A serial unit behind a serial-to-Ethernet gateway in transparent mode: one socat stands for
    # the gateway (the simulator's serial line on a TCP port), another is the bridge a site runs
    # to reach such a gateway, a pseudo-terminal the runner opens as an RTU line.
    if shutil.which("socat") is None:
        print("skipped the RTU over TCP bridge: socat is not installed (scripts/setup-deps.sh installs it)")
    else:
        with socket.socket() as free:
            free.bind(("127.0.0.1", 0))
            gateway_port = free.getsockname()[1]
        gateway_tty, bridge_tty = os.path.join(work, "gateway-tty"), os.path.join(work, "bridge-tty")
        gateway = subprocess.Popen(["socat", f"pty,link={gateway_tty},raw,echo=0",
                                    f"tcp-listen:{gateway_port},bind=127.0.0.1,reuseaddr"], stderr=subprocess.PIPE)
        bridged_sim = bridge = None
        try:
            while not os.path.exists(gateway_tty):
                assert gateway.poll() is None, gateway.stderr.read()
                time.sleep(0.05)
            bridged_sim = subprocess.Popen([simulator, "--rtu", gateway_tty + ":19200"], stdout=subprocess.PIPE,
                                           stderr=subprocess.PIPE, text=True)
            assert "serving rtu:" in bridged_sim.stdout.readline()
            bridge = subprocess.Popen(["socat", f"pty,link={bridge_tty},raw,echo=0", f"tcp:127.0.0.1:{gateway_port}"],
                                      stderr=subprocess.PIPE)
            while not os.path.exists(bridge_tty):
                assert bridge.poll() is None, bridge.stderr.read()
                time.sleep(0.05)
            bridged = subprocess.run([runner, "--unit", f"rtu:{bridge_tty}:19200", "--rounds", "2", "--interval", "0",
                                      "--timeout", "2", "--trace-frames", "bridge.txt"],
                                     cwd=work, capture_output=True, text=True, timeout=60)
            assert bridged.returncode == 0, bridged.stderr
            assert "replies 124, failures 0" in bridged.stderr, bridged.stderr
            with open(os.path.join(work, "bridge.txt"), encoding="utf-8") as trace:
                first = next(line for line in trace if "  >  " in line)
            # RTU: address, PDU, CRC
            assert re.fullmatch(rf"{stamp}  rtu:\S+ 19200 8N1 unit 1  >  01 03 00 00 00 04 44 09  03 read 0\+4\n",
                                first), first
        finally:
            for process in (bridge, bridged_sim, gateway):
                if process is not None and process.poll() is None:
                    process.send_signal(signal.SIGINT)
                    process.wait(timeout=20)

    # Each round waits out the link's back-off and tries to connect again, rather than failing at
    # once; no completed round is an exit status of its own.
    gone = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}", "--rounds", "3", "--interval", "0",
                           "--timeout", "1", "--trace", "gone.jsonl"], cwd=work, capture_output=True, text=True,
                          timeout=60)
    assert gone.returncode == 3, (gone.returncode, gone.stderr)
    assert "SPModbus get error" in gone.stdout, gone.stdout
    for n, backoff in ((1, "0.5"), (2, "1.0"), (3, "2.0")):
        assert re.search(rf"round {n}: 1 reads, round not completed at step 1 of 62 \(read \d+\+\d+ on "
                         rf"tcp:127\.0\.0\.1:{port} unit 1: cannot connect: .*, next attempt in {backoff} s\)",
                         gone.stderr), gone.stderr
    assert "no connection," not in gone.stderr, gone.stderr
    view = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}", "--rounds", "2", "--interval", "0",
                           "--timeout", "1", "--view"], cwd=work, capture_output=True, text=True, timeout=60)
    assert view.returncode == 3, (view.returncode, view.stderr)
    assert "the profile builds none" not in view.stdout, view.stdout
    shown = view.stdout.replace("\n  ", " ")
    assert shown.count("ROUND NOT COMPLETED at step 1 of 62 (read ") == 2, view.stdout
    assert "cannot connect" in shown and "no data: no round has completed yet" in shown, view.stdout
    assert re.search(r"rounds completed 0, abandoned 3, last round [0-9.]+ s; last failure: read ", gone.stderr), gone.stderr
    assert gone.stderr.rstrip().endswith("smd-host: no round completed in 3 rounds"), gone.stderr
    with open(os.path.join(work, "gone.jsonl"), encoding="utf-8") as trace:
        failed = [json.loads(line) for line in trace if '"request failed"' in line]
    assert len(failed) == 3 and failed[0]["args"][0].startswith("read "), failed

    # On a terminal the view keeps the age of its data counting while the link waits out its
    # back-off: the last frame is shown again as the seconds pass, not only at the next round.
    watched_sim, watched_port = start_simulator()
    leader, follower = pty.openpty()
    watching = subprocess.Popen([runner, "--unit", f"tcp:127.0.0.1:{watched_port}", "--rounds", "0", "--view",
                                 "--interval", "0", "--timeout", "0.3", "--retries", "0"],
                                cwd=work, stdout=follower, stderr=subprocess.PIPE, text=True)
    os.close(follower)
    screen, ages = "", {}
    try:
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not any(len(seen) > 1 for seen in ages.values()):
            if not select.select([leader], [], [], 0.5)[0]:
                continue
            screen += os.read(leader, 65536).decode("utf-8", "replace").replace("\r", "")
            frames = screen.split("\x1b[H\x1b[2J")
            for frame in frames[1:-1]:  # the last one may be cut short
                shown = frame.replace("\n  ", " ")
                round_number = re.search(r"px46tr_k  round (\d+) ", shown).group(1)
                age = re.search(r"data of \d\d:\d\d:\d\d, (\d+) s old", shown)
                if "ROUND NOT COMPLETED" in shown and age:
                    ages.setdefault(round_number, set()).add(int(age.group(1)))
            if watched_sim.poll() is None and len(frames) > 2:
                stop(watched_sim)  # the first round completed: the unit goes away
    finally:
        if watched_sim.poll() is None:
            stop(watched_sim)
        watching.send_signal(signal.SIGINT)
        watching.communicate(timeout=30)
        os.close(leader)
    assert any(len(seen) > 1 for seen in ages.values()), ages

    # An output file that cannot be made is refused before the plug-in loads, in one line.
    unmade = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{port}", "--trace-frames", "no/dir/f.txt"],
                            cwd=work, capture_output=True, text=True, timeout=60)
    assert unmade.stdout == "", unmade.stdout
    exit_statuses[2] = (unmade, "smd-host: --trace-frames no/dir/f.txt cannot be written: No such file or directory\n")

    # Ctrl-C during the only round of an endless run: a unit that takes the request and never
    # answers holds the round open.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        endless = subprocess.Popen([runner, "--unit", f"tcp:127.0.0.1:{silent.getsockname()[1]}", "--rounds", "0",
                                    "--timeout", "1", "--retries", "0"],
                                   cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        silent.settimeout(30)
        held, _ = silent.accept()
        with held:
            held.recv(64)
            endless.send_signal(signal.SIGINT)
            endless.stderr = endless.communicate(timeout=30)[1]
    assert "round 1: interrupted at step 1 of 62" in endless.stderr, endless.stderr
    exit_statuses[3] = (endless, "smd-host: no round completed\n")

    os.makedirs(os.path.join(work, "ini"))
    shutil.copy(os.path.join(examples, "unicom.yaml"), os.path.join(work, "ini", "1.yaml"))
    warned = subprocess.run([runner, "--check-config", "--b-mode", "5"], cwd=work, capture_output=True, text=True,
                            timeout=60)
    shutil.rmtree(os.path.join(work, "ini"))
    warned.stderr = warned.stdout  # the check reports on standard output
    exit_statuses[5] = (warned, "2 warnings\n")

# The exit-status table of docs/runner.md, one run for each row.
assert sorted(exit_statuses) == [0, 1, 2, 3, 4, 5], sorted(exit_statuses)
for status, (done, said) in exit_statuses.items():
    assert done.returncode == status, (status, done.args, done.returncode, done.stderr)
    assert done.stderr.endswith(said), (status, done.args, done.stderr)
print("ok")
