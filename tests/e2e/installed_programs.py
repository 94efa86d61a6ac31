"""`cmake --install` into a temporary prefix, then the installed runner, with its default plug-in,
polls the installed simulator over loopback Modbus TCP for one round, serving its endpoint with the
live page's installed files; both installed programs report the project's version."""
import glob
import gzip
import os
import re
import signal
import subprocess
import sys
import tempfile

build, version = sys.argv[1], sys.argv[2]

with tempfile.TemporaryDirectory() as work:
    prefix = os.path.join(work, "prefix")
    install = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                             capture_output=True, text=True, timeout=120)
    assert install.returncode == 0, install.stderr
    runner, simulator = (os.path.join(prefix, "bin", name) for name in ("smd-host", "px46tr_k-sim"))
    plugins = glob.glob(os.path.join(prefix, "lib", "**", "px46tr_k", "libpx46tr_k.so"), recursive=True)
    assert len(plugins) == 1, plugins
    assert not os.path.exists(os.path.join(prefix, "bin", "libpx46tr_k.so"))
    for program, name in ((runner, "smd-host"), (simulator, "px46tr_k-sim")):
        shown = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30)
        assert shown.returncode == 0 and shown.stdout == f"{name} {version}\n", (shown.stdout, shown.stderr)
        assert os.path.isfile(os.path.join(prefix, "share", "man", "man1", name + ".1.gz")), name
        # help2man makes the options a section of their own, each option an entry, parted from its
        # description by two spaces at least in --help; one space runs them together in the page.
        with gzip.open(os.path.join(prefix, "share", "man", "man1", name + ".1.gz"), "rt", encoding="utf-8") as f:
            page = f.read()
        assert "\n.SH OPTIONS\n" in page and "\n.HP\n" not in page, (name, re.findall(r"\n\.S[HS] .*", page))
        shown = subprocess.run([program, "--help"], capture_output=True, text=True, timeout=30).stdout
        run_together = [line for line in shown.splitlines()
                        if line.startswith("  -") and " " in line.strip() and not re.search(r"\S  +\S", line)]
        assert not run_together, (name, run_together)

    sim = subprocess.Popen([simulator, "--tcp", "127.0.0.1:0"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    try:
        line = sim.stdout.readline()
        found = re.search(r"serving tcp:127\.0\.0\.1:(\d+)", line)
        assert found, (line, sim.stderr.read() if sim.poll() is not None else "")
        run = subprocess.run([runner, "--unit", f"tcp:127.0.0.1:{found.group(1)}", "--rounds", "1",
                              "--interval", "0", "--timeout", "5", "--listen", "127.0.0.1:0"],
                             cwd=work, capture_output=True, text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        # The page's files are found beside the installed runner's prefix, not in the build tree.
        assert "smd-host: serving http://127.0.0.1:" in run.stderr and "the page lacks" not in run.stderr, run.stderr
        assert re.search(r"round 1: 62 reads, record published .* 0 failures", run.stderr), run.stderr
    finally:
        sim.send_signal(signal.SIGINT)
        sim.communicate(timeout=20)
    assert sim.returncode == 0, sim.returncode
