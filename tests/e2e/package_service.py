"""The service in the Debian package, checked on the package's own files: the unit smd-host@.service
passes `systemd-analyze verify` with the package unpacked as the root (its runner and manual page
must be there); the postinst, run against that root, makes the user the unit runs as, a member of
dialout; and the unit's command line, run as the unit runs it (the instance's site file, the
instance's working directory), polls the example site against the simulator until SIGTERM, leaves
the histories in the working directory and exits with a status the unit counts as success."""
import glob
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

build, simulator = sys.argv[1], sys.argv[2]
INSTANCE = "site1"


def service_settings(path):
    """The [Service] keys of a unit file, each with the list of its values in order."""
    settings, section = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                section = line
            elif section == "[Service]" and "=" in line and not line.startswith("#"):
                key, value = line.split("=", 1)
                settings.setdefault(key, []).append(value)
    return settings


def run_instance(root, unit, simulator_args):
    """Runs the unit's ExecStart for INSTANCE inside `root` against a simulator started with
    `simulator_args` until every unit has printed a round, then stops it with SIGTERM as systemd
    does. Returns the exit status, the runner's standard error and the working directory."""
    service = service_settings(unit)

    def in_root(value):
        value = value.replace("%i", INSTANCE).replace("%S", "/var/lib")
        return root + value if value.startswith("/") else value

    work = in_root(service["WorkingDirectory"][0])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)  # systemd makes it from StateDirectory=
    command = [in_root(word) for word in shlex.split(service["ExecStart"][0])]
    site_file = next(word for word in command if word.endswith(f"/{INSTANCE}.yaml"))

    sim = subprocess.Popen([simulator, "--tcp", "127.0.0.1:0"] + simulator_args, stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True)
    try:
        line = sim.stdout.readline()
        port = re.search(r"serving tcp:127\.0\.0\.1:(\d+)", line)
        assert port, (line, sim.stderr.read() if sim.poll() is not None else "")
        with open(os.path.join(root, "usr/share/doc/px46tr-k/examples/site.yaml"), encoding="utf-8") as f:
            example = f.read()
        assert "tcp:127.0.0.1:15020" in example, example
        with open(site_file, "w", encoding="utf-8") as f:
            f.write(example.replace("tcp:127.0.0.1:15020", f"tcp:127.0.0.1:{port.group(1)}"))

        runner = subprocess.Popen(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                  text=True)
        lines, units_polled, rounds_seen = [], set(), threading.Event()

        def read_messages():
            for message in runner.stderr:
                lines.append(message)
                polled = re.match(r"line 1 unit (\d+) \(data id \d+\): round 1: ", message)
                if polled:
                    units_polled.add(polled[1])
                if units_polled >= {"1", "2"}:
                    rounds_seen.set()

        reader = threading.Thread(target=read_messages)
        reader.start()
        rounds_seen.wait(timeout=60)
        # A runner that ends by itself is no service: it must still be polling here.
        still_running = runner.poll() is None
        runner.send_signal(signal.SIGTERM)
        status = runner.wait(timeout=60)
        reader.join(timeout=10)
        messages = "".join(lines)
        assert rounds_seen.is_set(), messages
        assert still_running, (status, messages)
        return status, messages, work
    finally:
        sim.send_signal(signal.SIGINT)
        sim.communicate(timeout=20)


with tempfile.TemporaryDirectory() as tmp:
    made = subprocess.run(["cpack", "-G", "DEB", "--config", f"{build}/CPackConfig.cmake", "-B", tmp],
                          capture_output=True, text=True, timeout=300)
    assert made.returncode == 0, made.stdout + made.stderr
    package = glob.glob(f"{tmp}/*.deb")[0]
    root, control = os.path.join(tmp, "root"), os.path.join(tmp, "control")
    subprocess.run(["dpkg-deb", "-x", package, root], check=True, timeout=60)
    subprocess.run(["dpkg-deb", "-e", package, control], check=True, timeout=30)
    unit = os.path.join(root, "usr/lib/systemd/system/smd-host@.service")

    # The folder of the site files ships empty: no instance has a site to poll.
    assert os.listdir(os.path.join(root, "etc/smd-host")) == [], os.listdir(os.path.join(root, "etc/smd-host"))

    # verify loads the unit's dependencies (network-online.target, multi-user.target ...) from the
    # root: systemd's own units go beside the package's, as on a system it is installed on.
    shutil.copytree("/usr/lib/systemd/system", os.path.join(root, "lib/systemd/system"), symlinks=True)
    verified = subprocess.run(["systemd-analyze", "verify", f"--root={root}", unit], capture_output=True,
                              text=True, timeout=120,
                              env=dict(os.environ, MANPATH=os.path.join(root, "usr/share/man")))
    assert verified.returncode == 0 and not (verified.stdout + verified.stderr).strip(), \
        verified.stdout + verified.stderr

    # The postinst as dpkg runs it for a root other than /: the user the unit runs as, a system
    # user in the groups the unit names, whose home is the service's state folder.
    etc = os.path.join(root, "etc")
    with open(os.path.join(etc, "passwd"), "w", encoding="utf-8") as f:
        f.write("root:x:0:0:root:/root:/bin/sh\n")
    with open(os.path.join(etc, "group"), "w", encoding="utf-8") as f:
        f.write("root:x:0:\ndialout:x:20:\n")
    configured = subprocess.run(["sh", "-e", os.path.join(control, "postinst"), "configure", ""],
                                capture_output=True, text=True, timeout=60, env=dict(os.environ, DPKG_ROOT=root))
    assert configured.returncode == 0, configured.stdout + configured.stderr
    with open(os.path.join(etc, "passwd"), encoding="utf-8") as f:
        user = re.search(r"^smd-host:[^:]*:(\d+):(\d+):[^:]*:([^:]*):([^:\n]*)$", f.read(), re.M)
    assert user, "no user smd-host"
    uid, gid, home, shell = int(user[1]), int(user[2]), user[3], user[4]
    assert uid < 1000 and home == "/var/lib/smd-host" and shell.endswith("nologin"), user[0]
    service = service_settings(unit)
    with open(os.path.join(etc, "group"), encoding="utf-8") as f:
        groups = {g.split(":")[0]: (int(g.split(":")[2]), g.strip().split(":")[3].split(","))
                  for g in f if g.strip()}
    assert service["User"] == ["smd-host"] and groups[service["Group"][0]][0] == gid, (service, groups)
    for group in service["SupplementaryGroups"][0].split():
        assert "smd-host" in groups[group][1], (group, groups[group])

    # Under ProtectSystem=strict the service writes only in its state folders: the relative paths of
    # the site file (its histories) are taken from the working directory, which must be one.
    state_folders = ["%S/" + folder for folder in " ".join(service["StateDirectory"]).split()]
    assert service["WorkingDirectory"][0] in state_folders, (service["WorkingDirectory"], state_folders)

    # Stopped as systemd stops it: with every unit answering, and with a unit that never answers
    # (it completes no round, which is no failure of the service).
    success = {0} | {int(s) for s in " ".join(service.get("SuccessExitStatus", [])).split()}
    for simulator_args, expected, histories in (
            (["--units", "1-2"], 0, ["h101.bin", "h102.bin"]),
            (["--units", "1-2", "--dead-unit", "2"], 3, ["h101.bin"]),
    ):
        status, messages, work = run_instance(root, unit, simulator_args)
        assert status == expected and status in success, (simulator_args, status, success, messages)
        assert "interrupted" in messages, messages
        for history in histories:
            with open(os.path.join(work, history), "rb") as f:
                assert f.read(4) == b"PXRH", (simulator_args, history)
