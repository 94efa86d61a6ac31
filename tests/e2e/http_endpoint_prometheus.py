"""A real Prometheus server scrapes smd-host's /metrics while the runner polls a site of three units
on px46tr_k-sim: each unit's line A voltage, queried through Prometheus's HTTP API, is the one in
that unit's snapshot (/api/units/<data_id>/snapshot), `up` is 1, and promtool finds nothing to say
about a scrape.

Usage: http_endpoint_prometheus.py SMD_HOST PX46TR_K_SIM
"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

runner, simulator = sys.argv[1], sys.argv[2]
VOLTAGE = "A路进线-电压"
DATA_IDS = (101, 102, 103)


def wait_for(what, check, timeout=60, step=0.25):
    deadline = time.monotonic() + timeout
    while True:
        result = check()
        if result:
            return result
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(step)


def get(url, timeout=10):
    with urllib.request.urlopen(url, timeout=timeout) as reply:
        return reply.status, reply.headers.get("Content-Type"), reply.read().decode("utf-8")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def served_url(log_path, process):
    def found():
        assert process.poll() is None, open(log_path, encoding="utf-8").read()
        match = re.search(r"smd-host: serving (http://127\.0\.0\.1:\d+/)", open(log_path, encoding="utf-8").read())
        return match.group(1) if match else None
    return wait_for("the runner's endpoint", found, timeout=30)


def main():
    work = tempfile.mkdtemp(prefix="px46-prometheus-")
    sim = subprocess.Popen([simulator, "--tcp", "127.0.0.1:0", "--units", "1-3"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    processes = [sim]
    try:
        line = sim.stdout.readline()
        found = re.search(r"serving tcp:127\.0\.0\.1:(\d+) units 1-3$", line)
        assert found, line
        site = os.path.join(work, "site.yaml")
        with open(site, "w", encoding="utf-8") as f:
            f.write(f"interval: 0.5\nlisten: 0\nlines:\n  - link: tcp:127.0.0.1:{found.group(1)}\n    units:\n")
            for unit, data_id in enumerate(DATA_IDS, start=1):
                f.write(f"      - unit: {unit}\n        data_id: {data_id}\n")
        runner_log = os.path.join(work, "runner.err")
        with open(runner_log, "w") as err:
            smd = subprocess.Popen([runner, "--site", site, "--rounds", "0"], cwd=work, stdout=subprocess.DEVNULL,
                                   stderr=err)
        processes.append(smd)
        base = served_url(runner_log, smd)
        endpoint = urllib.parse.urlsplit(base).netloc

        # Every unit's snapshot as the device wrote it; the simulator's values are fixed and
        # differ from unit to unit, so each query below is matched to its own unit.
        def snapshots():
            units = json.loads(get(base + "api/units")[2])
            if len(units) != 3 or any(u["state"] != "completed" for u in units):
                return None
            return {u["data_id"]: get(f"{base}api/units/{u['data_id']}/snapshot") for u in units}
        replies = wait_for("a completed round of every unit", snapshots)
        expected = {}
        for data_id, (status, content_type, text) in replies.items():
            assert status == 200 and content_type.startswith("application/json"), (status, content_type)
            expected[str(data_id)] = float(json.loads(text)[VOLTAGE])
        assert len(set(expected.values())) == 3, expected

        # promtool on one scrape: no lint problem, no format error.
        status, content_type, metrics = get(base + "metrics")
        assert status == 200 and content_type.startswith("text/plain; version=0.0.4"), content_type
        checked = subprocess.run(["promtool", "check", "metrics"], input=metrics, capture_output=True, text=True,
                                 timeout=60)
        assert checked.returncode == 0 and not checked.stdout.strip() and not checked.stderr.strip(), (
            checked.returncode, checked.stdout, checked.stderr)

        # The real server, scraping every second.
        prometheus_port = free_port()
        config = os.path.join(work, "prometheus.yml")
        with open(config, "w", encoding="utf-8") as f:
            f.write("global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: smd-host\n    static_configs:\n"
                    f"      - targets: ['{endpoint}']\n")
        with open(os.path.join(work, "prometheus.log"), "w") as log:
            prometheus = subprocess.Popen(
                ["prometheus", "--config.file=" + config, "--storage.tsdb.path=" + os.path.join(work, "data"),
                 f"--web.listen-address=127.0.0.1:{prometheus_port}"], stdout=log, stderr=log, cwd=work)
        processes.append(prometheus)
        api = f"http://127.0.0.1:{prometheus_port}/api/v1/query?query="

        def query(promql):
            assert prometheus.poll() is None, open(os.path.join(work, "prometheus.log")).read()[-3000:]
            try:
                reply = json.loads(get(api + urllib.parse.quote(promql))[2])
            except OSError:
                return []
            assert reply["status"] == "success", reply
            return reply["data"]["result"]

        # Some scrapes, all of them successful.
        wait_for("three scrapes", lambda: [r for r in query('count_over_time(up{job="smd-host"}[1m])')
                                           if float(r["value"][1]) >= 3], timeout=90)
        up = query('up{job="smd-host"}')
        assert len(up) == 1 and up[0]["value"][1] == "1", up
        assert not query('min_over_time(up{job="smd-host"}[1m]) < 1'), "a scrape failed"
        voltages = query('px46tr_k_signal{signal="' + VOLTAGE + '"}')
        seen = {r["metric"]["data_id"]: float(r["value"][1]) for r in voltages}
        assert seen == expected, (seen, expected)
        for r in voltages:
            assert r["metric"]["line"].startswith("line 1 (tcp:127.0.0.1:"), r["metric"]
        completed = query('px46tr_k_rounds_total{result="completed"}')
        assert len(completed) == 3 and all(float(r["value"][1]) >= 1 for r in completed), completed
        print(f"prometheus saw {VOLTAGE} {seen} after its scrapes; up 1")
    finally:
        for process in reversed(processes):
            if process.poll() is None:
                process.send_signal(signal.SIGINT)
        for process in reversed(processes):
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                raise
    assert processes[1].returncode == 0, open(runner_log, encoding="utf-8").read()[-3000:]


main()
