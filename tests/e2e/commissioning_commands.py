"""The commissioning commands as a user types them: --catalogue, --check-config, --view; and a
configuration that its INI or YAML library rejects, which both the check and a run report.
Arguments: the runner, the examples folder, a plug-in whose get_providers fails."""
import os
import shutil
import subprocess
import sys
import tempfile

runner, examples, failing_plugin = sys.argv[1], sys.argv[2], sys.argv[3]


def run(work, *args):
    return subprocess.run([runner, *args], cwd=work, capture_output=True, text=True, timeout=60)


with tempfile.TemporaryDirectory() as work:
    catalogue = run(work, "--catalogue")
    assert catalogue.returncode == 0, catalogue.stderr
    lines = catalogue.stdout.splitlines()
    assert len(lines) == 1488 + 457, len(lines)
    assert "出线支路05电流越上线\talarm\tregister 7433 bit 4" in lines

    # No file where the profile reads one is a problem; a file the profile does not read, a warning.
    nothing = run(work, "--check-config")
    assert nothing.returncode == 1 and "under profile 1 (unicom) no alarm is reported\n1 problem\n" in nothing.stdout, \
        (nothing.returncode, nothing.stdout)

    os.makedirs(os.path.join(work, "ini"))
    shutil.copy(os.path.join(examples, "unicom.yaml"), os.path.join(work, "ini", "1.yaml"))
    unread = run(work, "--check-config", "--b-mode", "5")
    assert unread.returncode == 5 and unread.stdout.endswith("2 warnings\n"), (unread.returncode, unread.stdout)
    clean = run(work, "--check-config")
    assert clean.returncode == 0, clean.stdout + clean.stderr
    assert "file: ./ini/1.yaml" in clean.stdout and clean.stdout.endswith("clean\n"), clean.stdout
    assert "test ini/yaml" not in clean.stdout, "the loader's own lines stay out of the report"

    with open(os.path.join(work, "ini", "1.yaml"), "a", encoding="utf-8") as f:
        f.write("  出线支路07开关告警: \"0417009001\"\n")
    dirty = run(work, "--check-config")
    assert dirty.returncode == 1, dirty.stdout
    assert "problem: ./ini/1.yaml: ALARM 出线支路07开关告警: no alarm the driver reports" in dirty.stdout, dirty.stdout

    # Thousands of unknown names, each with its nearest names, well within the run's time-out.
    with open(os.path.join(work, "ini", "1.yaml"), "w", encoding="utf-8") as f:
        f.write("AI:\n" + "".join(f'  环境温度{chr(0x4e00 + i)}: "0406101001,x"\n' for i in range(5000)) + "ALARM:\n")
    many = run(work, "--check-config")
    assert many.stdout.endswith("5000 problems\n") and "nearest: 环境温度" in many.stdout, many.stdout[-300:]
    shutil.copy(os.path.join(examples, "unicom.yaml"), os.path.join(work, "ini", "1.yaml"))

    mobile = run(work, "--check-config", "--b-mode", "3")
    assert "profile: 3 (mobile)" in mobile.stdout, mobile.stdout

    # A site: the file's own problems first, then every unit's report under its name; the status is
    # the worst of them.
    unit = "  - link: tcp:127.0.0.1:{}\n    units:\n      - unit: 1\n        data_id: {}\n"
    profile_5 = "        settings: {appSetting: {b_mode: 5}}\n"
    sites = [("lines:\n" + unit.format(1502, 1), 0, "\nsite: clean\n"),
             ("lines:\n" + unit.format(1502, 1) + profile_5, 5, "\nsite: 0 problems, 2 warnings\n"),
             ("lines:\n" + unit.format(1502, 1) + unit.format(1503, 1) + profile_5, 1,
              "\nsite: 1 problem, 2 warnings\n")]
    for text, status, summary in sites:
        with open(os.path.join(work, "site.yaml"), "w", encoding="utf-8") as f:
            f.write(text)
        site = run(work, "--check-config", "--site", "site.yaml")
        assert site.returncode == status and site.stdout.endswith(summary), (text, site.returncode, site.stdout)
        assert "== line 1 unit 1 (data id 1) ==\nfile: ./ini/1.yaml\nprofile: " in site.stdout, site.stdout
    assert ("problem: site.yaml: data id 1 is given to line 1 unit 1 (data id 1) and line 2 unit 1 (data id 1)"
            in site.stdout), site.stdout
    assert "== line 2 unit 1 (data id 1) ==\nfile: ./ini/1.yaml\nprofile: 5" in site.stdout, site.stdout

    view = run(work, "--view", "--rounds", "2", "--interval", "1", "--set", "7433=16")
    assert view.returncode == 0, view.stderr
    assert "\x1b" not in view.stdout, "plain text when standard output is no terminal"
    assert view.stdout.count("px46tr_k  round ") == 2, view.stdout
    assert "rvSize is" not in view.stdout, "the view replaces the raw output"
    assert "  出线支路05电流越上线" in view.stdout
    assert "0417001001              clear         系统总告警状态" in view.stdout, view.stdout

with tempfile.TemporaryDirectory() as work:
    os.makedirs(os.path.join(work, "ini"))
    # Each names the file once, then the library's complaint and what it leaves unsaid (None: the
    # file is a folder).
    rejected = [("1.ini", "[AI]\nx=1\n", "No such node (ALARM)"),
                ("1.ini", "[AI]\nx=1\nx=2\n[ALARM]\n", ": line 3: duplicate key name"),
                ("1.yaml", "AI:\n  x: [1]\n", "bad conversion"),
                ("1.ini", "\ufeff[AI]\nx=1\n[ALARM]\n",
                 ": line 1: '=' character not found in line; the file starts with a byte-order mark"),
                ("1.yaml", "AI:\n\tx: \"1\"\nALARM:\n",
                 "illegal map value; line 2 is indented with a tab, which YAML does not allow"),
                ("1.ini", None, ": line 1: read error: Is a directory")]
    for name, text, message in rejected:
        shutil.rmtree(os.path.join(work, "ini"))
        os.makedirs(os.path.join(work, "ini", name if text is None else ""))
        if text is not None:
            with open(os.path.join(work, "ini", name), "w", encoding="utf-8") as f:
                f.write(text)
        rounds = run(work, "--rounds", "1")
        assert rounds.returncode == 1, (name, text, rounds.returncode, rounds.stderr)
        assert rounds.stderr.startswith(f"smd-host: ./ini/{name}: ") and message in rounds.stderr, rounds.stderr
        assert rounds.stderr.count(name) == 1, rounds.stderr
        check = run(work, "--check-config")
        load = [line for line in check.stdout.splitlines() if ": load: " in line]
        assert check.returncode == 1 and len(load) == 1 and message in load[0], check.stdout
        assert load[0].count(name) == 1, load

# Bad input, as a new user gives it: each is refused with one line naming the file or the option,
# and an exit status of its own, quickly and without reading without end.
with tempfile.TemporaryDirectory() as work:
    files = {"list.json": "[1,2]", "text.json": '"hello"', "comma.json": '{"appSetting": {"b_mode": 1},}',
             "extra.json": '{"appSetting": {}}\n{}', "ok.json": "{}\n",
             "comment.json": '{"appSetting": {"b_mode": 3} // site A\n}', "url.json": '{"a": "http://x/*y*/"}',
             "site.yaml": "lines:\n  - link: tcp:10.0.0.7\n    units:\n      - unit: 1\n        data_id: 1\n",
             "typo.yaml": "lines:\n  - link: tcp:10.0.0.7\n    timout: 2\n",
             "listening.yaml": "listen: 9146\nlines:\n  - link: tcp:10.0.0.7\n    units:\n      - unit: 1\n"
                               "        data_id: 1\n"}
    for name, text in files.items():
        with open(os.path.join(work, name), "w", encoding="utf-8") as f:
            f.write(text)
    assert run(work, "--rounds", "1", "--history", "h.bin").returncode == 0
    refused = [
        (["--settings", "list.json"], 2, "smd-host: settings file list.json is not one JSON object: line 1, column 1:"),
        (["--settings", "text.json"], 2, "settings file text.json is not one JSON object: line 1, column 1:"),
        (["--settings", "comma.json"], 2, "settings file comma.json is not one JSON object: line 1, column 30:"),
        (["--settings", "extra.json"], 2, "settings file extra.json is not one JSON object: line 2, column 1:"),
        (["--check-config", "--settings", "comma.json"], 2, "settings file comma.json is not one JSON object"),
        (["--settings", "comment.json"], 2,
         "settings file comment.json is not one JSON object: line 1, column 30: a comment, which JSON does not allow"),
        (["--registers", "comment.json"], 2, "register file comment.json is not one JSON object: line 1, column 30"),
        (["--settings", "."], 2, "smd-host: cannot read settings file .: Is a directory\n"),
        (["--settings", "none.json"], 2, "smd-host: cannot read settings file none.json: No such file or directory\n"),
        (["--snapshot", "."], 2, "smd-host: --snapshot . cannot be written: Is a directory\n"),
        (["--replay", "."], 1, "smd-host: cannot read history .: Is a directory\n"),
        (["--dump", "."], 1, "smd-host: cannot read history .: Is a directory\n"),
        (["--settings", "/dev/zero"], 2, "smd-host: settings file /dev/zero is larger than 4 MiB: not read\n"),
        (["--registers", "/dev/urandom"], 2, "register file /dev/urandom is larger than 4 MiB: not read"),
        (["--interval", "1e308"], 2, "smd-host: --interval must be from 0 to 86400 seconds"),
        (["--interval", "nan"], 2, "smd-host: --interval must be from 0 to 86400 seconds"),
        (["--rounds", "2", "snap.json"], 2, "smd-host: 'snap.json' belongs to no option (--help lists the options)\n"),
        (["--b-mode", "3"], 2, "smd-host: --b-mode goes with --check-config (--help lists the options)\n"),
        (["--index", "3"], 2, "smd-host: --index goes with --dump (--help lists the options)\n"),
        (["--rounds", "x"], 2, "smd-host: the argument ('x') for option '--rounds' is invalid (--help lists the options)\n"),
        (["--round", "2"], 2, "smd-host: unrecognised option '--round'; nearest: --rounds (--help lists the options)\n"),
        (["--data-id", "-1"], 2, "smd-host: --data-id '-1' is not a number from 0 to 4294967295"),
        (["--unit", "rtu:/dev/ttyUSB0:9600:8X1"], 2, "smd-host: --unit: parity 'X' in '8X1' is not N, E or O (--help"),
        (["--unit", "tcp:10.0.0.7:502:256"], 2, "smd-host: --unit: unit id '256' is not a number from 0 to 255"),
        (["--timeout", "2"], 2, "smd-host: --timeout applies to a real line (--unit tcp: or rtu:)"),
        (["--close-after-round"], 2, "smd-host: --close-after-round applies to a real line"),
        (["--unit", "tcp:10.0.0.7", "--set", "1=2"], 2, "smd-host: --set, --set-at and --registers apply to --unit sim"),
        (["--snapshot", "no/dir/s.json"], 2, "smd-host: --snapshot no/dir/s.json cannot be written: No such file or "
                                             "directory\n"),
        (["--history", "."], 2, "smd-host: --history . cannot be written: Is a directory\n"),
        (["--unit", "tcp:10.0.0.7", "--trace-frames", ""], 2, "smd-host: --trace-frames names no file"),
        (["--settings", ""], 2, "smd-host: --settings names no file"),
        (["--site", ""], 2, "smd-host: --site names no file"),
        (["--site", "site.yaml", "--unit", "tcp:10.0.0.7"], 2, "smd-host: --site and --unit go one at a time (--help"),
        (["--site", "site.yaml", "--timeout", "2"], 2, "smd-host: --timeout goes in the site file, not beside --site"),
        (["--site", "site.yaml", "--data-id", "2"], 2, "smd-host: --data-id goes in the site file, not beside --site"),
        (["--site", "site.yaml", "--settings", "ok.json"], 2, "smd-host: --settings goes in the site file"),
        (["--site", "site.yaml", "--history", "h.bin"], 2, "smd-host: --history goes in the site file"),
        (["--site", "site.yaml", "--snapshot", "s.json"], 2, "smd-host: --write and --snapshot name one unit"),
        (["--view", "--view-unit", "1"], 2, "smd-host: --view-unit goes with --site and --view (--help"),
        (["--site", "site.yaml", "--view-unit", "1"], 2, "smd-host: --view-unit goes with --site and --view"),
        (["--site", "site.yaml", "--view", "--view-unit", "x"], 2, "smd-host: --view-unit 'x' is not a data id"),
        (["--site", "site.yaml", "--view", "--view-unit", "7"], 2,
         "smd-host: --view-unit 7: no unit of site.yaml has that data id (--help"),
        (["--site", "site.yaml", "--catalogue"], 2, "smd-host: --site goes with a polling run or --check-config"),
        (["--listen", "localhost:9146"], 2, "smd-host: --listen 'localhost:9146': 'localhost' is not an IPv4 address"),
        (["--listen", "[::1]:9146"], 2, "smd-host: --listen '[::1]:9146': IPv6 addresses are not served"),
        (["--listen", "65536"], 2, "smd-host: --listen '65536': port '65536' is not a number from 0 to 65535"),
        (["--listen", "9146", "--replay", "h.bin"], 2, "smd-host: --listen goes with a polling run (--unit or --site)"),
        (["--listen", "9146", "--check-config"], 2, "smd-host: --listen goes with a polling run"),
        (["--site", "listening.yaml", "--listen", "9146"], 2,
         "smd-host: --listen and the listen: of site file listening.yaml name two addresses: give one"),
        (["--check-config", "--site", "typo.yaml"], 2,
         "smd-host: site file typo.yaml, line 3: unknown key 'timout'; nearest: timeout\n"),
        (["--check-config", "--site", "none.yaml"], 2, "smd-host: cannot read site file none.yaml: No such file or "
                                                       "directory\n"),
        (["--trace", "h.bin", "--history", "./h.bin"], 2, "smd-host: --trace and --history name one file (./h.bin)"),
        (["--replay", "h.bin", "--snapshot", os.path.join(work, "h.bin")], 2,
         "smd-host: --snapshot and --replay name one file"),
        (["--trace", "/dev/full"], 1, "smd-host: cannot write trace file /dev/full: No space left on device\n"),
        (["--dump", "h.bin", "--plugin", failing_plugin], 1,
         "smd-host: plug-in's get_providers failed: no unit of this kind\n"),
    ]
    for args, status, message in refused:
        done = run(work, *args)
        assert done.returncode == status, (args, done.returncode, done.stderr)
        assert message in done.stderr, (args, done.stderr)
        assert status != 2 or (done.stderr.count("\n") == 1 and not done.stdout), \
            ("usage errors are one line, before the plug-in speaks", args, done.stdout, done.stderr)
    assert run(work, "--dump", "h.bin").returncode == 0, "a refused command line leaves its files alone"
    assert run(work, "--settings", "ok.json").returncode == 0
    assert run(work, "--settings", "url.json").returncode == 0, "a string may hold what starts a comment"
    # Standard output that cannot be written: the plug-in's lines, the view, the catalogue.
    for args in (["--rounds", "1"], ["--view"], ["--catalogue"]):
        with open("/dev/full", "w") as full:
            done = subprocess.run([runner, *args], cwd=work, stdout=full, stderr=subprocess.PIPE, text=True,
                                  timeout=60)
        assert done.returncode == 1, (args, done.returncode, done.stderr)
        assert "smd-host: cannot write standard output" in done.stderr, done.stderr
print("ok")
