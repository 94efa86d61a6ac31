"""smd-host's HTTP endpoint against clients that misbehave, one row each: a path with "..", an
unknown path, a write method, a 1 MB header, 2,000 idle connections and a client that sends a
byte a second. After each row a well-behaved client is still served at once; after all of them
the runner's memory is bounded and it stops cleanly.

Usage: http_endpoint_bad_requests.py SMD_HOST
"""
import os
import re
import resource
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

runner = sys.argv[1]
IDLE_CONNECTIONS = 2000
READ_SECONDS = 5  # the server's time to read a whole request


def vm_rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1))


def exchange(port, data, timeout=10):
    """Sends `data`, returns the reply's status code, or None when the server closed without one."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        try:
            s.sendall(data)
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused part way: what came back before says how
        reply = b""
        try:
            while b"\r\n" not in reply:
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        except ConnectionResetError:
            pass
    match = re.match(rb"HTTP/1\.[01] (\d{3}) ", reply)
    return int(match.group(1)) if match else None


def get(port, path):
    return exchange(port, f"GET {path} HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n".encode())


def served_quickly(port):
    """A well-behaved client's GET of /api/units: its status and how long it took."""
    started = time.monotonic()
    with urllib.request.urlopen(f"http://127.0.0.1:{port}/api/units", timeout=10) as reply:
        reply.read()
        return reply.status, time.monotonic() - started


def idle_connections(port):
    idle = []
    try:
        for _ in range(IDLE_CONNECTIONS):
            idle.append(socket.create_connection(("127.0.0.1", port), timeout=30))
        status, seconds = served_quickly(port)
        return f"{len(idle)} open; another client got {status} in {seconds:.2f} s", status == 200 and seconds < 5
    finally:
        for s in idle:
            s.close()


def byte_a_second(port):
    request = b"GET /api/units HTTP/1.1\r\nHost: x\r\nX-Slow: " + b"s" * 100
    outcome = {}

    def slow_client():
        started = time.monotonic()
        with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
            try:
                for byte in request:
                    s.sendall(bytes([byte]))
                    time.sleep(1)
                outcome["cut"] = None
            except (BrokenPipeError, ConnectionResetError):
                outcome["cut"] = time.monotonic() - started
    thread = threading.Thread(target=slow_client)
    thread.start()
    time.sleep(2)
    status, seconds = served_quickly(port)  # while the slow client is at it
    thread.join(timeout=60)
    cut = outcome.get("cut")
    return (f"cut off after {cut if cut is None else round(cut, 1)} s; another client got {status} in {seconds:.2f} s",
            cut is not None and cut < READ_SECONDS + 4 and status == 200 and seconds < 5)


def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    wanted = min(hard, 8192)
    assert wanted > IDLE_CONNECTIONS + 100, f"descriptor limit {hard} is too low for the idle row"
    resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))  # this script's, and its runner's
    work = tempfile.mkdtemp(prefix="px46-bad-requests-")
    log_path = os.path.join(work, "runner.err")
    with open(log_path, "w") as log:
        smd = subprocess.Popen([runner, "--unit", "sim", "--rounds", "0", "--interval", "0.2", "--listen", "0"],
                               cwd=work, stdout=subprocess.DEVNULL, stderr=log)
    try:
        deadline = time.monotonic() + 30
        while not (found := re.search(r"serving http://127\.0\.0\.1:(\d+)/", open(log_path).read())):
            assert smd.poll() is None and time.monotonic() < deadline, open(log_path).read()
            time.sleep(0.1)
        port = int(found.group(1))
        assert served_quickly(port)[0] == 200
        rss_before = vm_rss_kib(smd.pid)

        big_header = b"GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * (1 << 20) + b"\r\n\r\n"
        rows = [
            # what, the action, and whether its outcome is the one wanted
            ("a path with ..", lambda: get(port, "/api/../metrics"), lambda s: s == 404),
            ("a path with an encoded ..", lambda: get(port, "/api/%2e%2e/metrics"), lambda s: s == 404),
            ("a path that climbs above the root", lambda: get(port, "/../../etc/passwd"), lambda s: s == 404),
            ("an unknown path", lambda: get(port, "/api/unknown"), lambda s: s == 404),
            ("POST", lambda: exchange(port, b"POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}"),
             lambda s: s == 405),
            ("DELETE", lambda: exchange(port, b"DELETE /api/units HTTP/1.1\r\nHost: x\r\n\r\n"), lambda s: s == 405),
            ("a 1 MB header", lambda: exchange(port, big_header), lambda s: s is None or 400 <= s < 500),
            (f"{IDLE_CONNECTIONS} idle connections", lambda: idle_connections(port), lambda r: r[1]),
            ("a byte a second", lambda: byte_a_second(port), lambda r: r[1]),
        ]
        failures = []
        for what, action, wanted in rows:
            outcome = action()
            alive = smd.poll() is None
            after = served_quickly(port) if alive else None
            ok = wanted(outcome) and alive and after[0] == 200
            print(f"{what}: {outcome}; runner {'alive' if alive else 'gone'}, next client {after}")
            if not ok:
                failures.append(what)
        rss_after = vm_rss_kib(smd.pid)
        print(f"VmRSS {rss_before} KiB before the rows, {rss_after} KiB after")
        # The server's threads and buffers are made at its start: what the rows leave behind is
        # the allocator's and the kernel's slack (under AddressSanitizer, its quarantine of freed
        # blocks too), not a buffer per connection or per byte: 2,000 of the 1 MB header would be
        # gigabytes.
        if rss_after > rss_before + max(64 * 1024, rss_before // 2):
            failures.append(f"memory grew from {rss_before} to {rss_after} KiB")
        assert not failures, failures
    finally:
        if smd.poll() is None:
            smd.send_signal(signal.SIGINT)
        smd.wait(timeout=60)
    log = open(log_path).read()
    assert smd.returncode == 0, (smd.returncode, log[-3000:])
    assert "interrupted" in log, log[-3000:]


main()
