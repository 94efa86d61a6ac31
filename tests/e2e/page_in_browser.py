"""The runner's live page in a real browser: headless Chromium loads the page of a site of three
units that the runner polls on the simulator (--site and --listen against px46tr_k-sim --units
1-3). The site page's DOM holds a tile per unit; a unit's page holds its data id, its line
voltages as its snapshot (/api/units/<id>/snapshot) has them, its feeders table and trend plots
drawn by the chart library with at least two points. Screenshots of both pages are kept in the
build folder (page-site.png, page-unit.png)."""
import html
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

runner, simulator, build = sys.argv[1], sys.argv[2], sys.argv[3]
browser = shutil.which("chromium")
assert browser, "chromium is not installed (scripts/setup-deps.sh installs it)"
VOLTAGE = {"A": "A路进线-电压", "B": "B路进线-电压"}


def get_json(url):
    with urllib.request.urlopen(url, timeout=5) as reply:
        return json.loads(reply.read().decode("utf-8"))


def chromium(work, *args):
    """Runs headless Chromium with a profile of its own; its output, or a failure with its words."""
    run = subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                          "--disable-extensions", "--hide-scrollbars", f"--user-data-dir={work}/profile",
                          "--virtual-time-budget=10000", *args],
                         capture_output=True, text=True, timeout=180)
    assert run.returncode == 0, (args, run.returncode, run.stderr[-3000:])
    return run.stdout


def wait_for(what, check, seconds=60):
    deadline = time.monotonic() + seconds
    while True:
        try:
            found = check()
            if found:
                return found
        except OSError:
            pass
        assert time.monotonic() < deadline, f"waited {seconds} s for {what}"
        time.sleep(0.5)


with tempfile.TemporaryDirectory() as work:
    sim = subprocess.Popen([simulator, "--tcp", "127.0.0.1:0", "--units", "1-3"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = sim.stdout.readline()
    served = re.search(r"serving tcp:127\.0\.0\.1:(\d+) units 1-3$", line)
    assert served, (line, sim.stderr.read() if sim.poll() is not None else "")
    with open(os.path.join(work, "site.yaml"), "w", encoding="utf-8") as site:
        site.write(f"interval: 1\nlines:\n  - link: tcp:127.0.0.1:{served.group(1)}\n    units:\n" +
                   "".join(f"      - unit: {u}\n        data_id: {100 + u}\n" for u in (1, 2, 3)))
    # Port 0: the runner says on its first line which port the system gave it.
    host = subprocess.Popen([runner, "--site", "site.yaml", "--rounds", "0", "--listen", "127.0.0.1:0"],
                            cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    first = host.stderr.readline()
    serving = re.match(r"smd-host: serving (http://127\.0\.0\.1:\d+)/$", first)
    assert serving, (first, host.stderr.read() if host.poll() is not None else "")
    base = serving.group(1)
    # The round lines that follow are kept, so that the runner never waits on a full pipe.
    host_lines = []
    drain = threading.Thread(target=lambda: host_lines.extend(host.stderr), daemon=True)
    drain.start()
    try:
        # Every unit has data, and unit 102's trend two points (one per 5 s).
        wait_for("every unit to complete a round",
                 lambda: len(units := get_json(f"{base}/api/units")) == 3 and
                 all(u["state"] == "completed" for u in units))
        wait_for("two trend points", lambda: len(get_json(f"{base}/api/units/102/trend")["time_ms"]) >= 2)

        site_dom = chromium(work, "--dump-dom", f"{base}/")
        tiles = re.findall(r'<a class="tile state-(\w[\w-]*)" href="/units/(\d+)" data-id="(\d+)"', site_dom)
        assert sorted(t[1] for t in tiles) == ["101", "102", "103"], site_dom
        assert all(t[0] == "completed" for t in tiles), tiles
        assert 'data-units="3"' in site_dom, site_dom

        snapshot = get_json(f"{base}/api/units/102/snapshot")
        unit_dom = chromium(work, "--dump-dom", f"{base}/units/102")
        assert '<span id="data-id">102</span>' in unit_dom, unit_dom
        assert "line 1 unit 2 (data id 102)" in html.unescape(unit_dom), unit_dom
        for letter, member in VOLTAGE.items():
            shown = f'<tr id="line-{letter}"><td>{letter}</td><td class="voltage">{snapshot[member]:.2f}</td>'
            assert shown in unit_dom, (shown, unit_dom)
        feeders = re.search(r'<table id="feeders">.*?<tbody>(.*?)</tbody>', unit_dom, re.S)
        assert feeders and feeders.group(1).count("<tr") >= 3, unit_dom
        for plot in ("voltage", "current", "power", "ambient"):
            figure = re.search(rf'<figure class="trend" id="trend-{plot}" data-points="(\d+)">(.*?)</figure>',
                               unit_dom, re.S)
            assert figure and int(figure.group(1)) >= 2, (plot, unit_dom)
            # Drawn by the chart library, which sizes the canvas it draws on.
            assert re.search(r'<canvas [^>]*height="\d+"', figure.group(2)), (plot, figure.group(2))

        for name, path in (("page-site.png", "/"), ("page-unit.png", "/units/102")):
            shot = os.path.join(build, name)
            if os.path.exists(shot):
                os.remove(shot)
            chromium(work, f"--screenshot={shot}", "--window-size=1280,1400", f"{base}{path}")
            with open(shot, "rb") as png:
                assert png.read(8) == b"\x89PNG\r\n\x1a\n", shot
            assert os.path.getsize(shot) > 10000, (shot, os.path.getsize(shot))
    finally:
        host.send_signal(signal.SIGINT)
        host.wait(timeout=30)
        drain.join(timeout=30)
        sim.send_signal(signal.SIGINT)
        sim.communicate(timeout=30)
    assert host.returncode == 0, (host.returncode, "".join(host_lines)[-3000:])
print("page_in_browser: 3 tiles; unit 102's voltages, feeders and trend plots; screenshots kept")
