"""smd-host --snapshot and --write: the set registers appear under their Chinese names, and the
unit confirms the writes."""
import json
import os
import subprocess
import sys
import tempfile

runner = sys.argv[1]


def run(work, *args):
    done = subprocess.run([runner, *args], cwd=work, capture_output=True, text=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return done


with tempfile.TemporaryDirectory() as work:
    done = run(work, "--rounds", "1", "--snapshot", "s.json",
               "--set", "5=22000",      # line A voltage (low register of the pair): 220.0
               "--set", "4099=3",       # line A main switch: opened
               "--set", "4247=255",     # temperature: 25.5
               "--set", "7433=0x10",    # feeder 5 current over upper limit
               "--write", "300=1,2,3")
    assert "PX46TR_K::DeviceIoControl 801" in done.stdout, done.stdout
    assert "write 300=1,2,3: confirmed by the unit" in done.stderr, done.stderr
    with open(os.path.join(work, "s.json"), "rb") as f:
        raw = f.read()
    assert raw.endswith(b"\n"), raw[-20:]
    snap = json.loads(raw)
    # Output files are checked before the first round; the check leaves an existing snapshot as it
    # was, and the run that is refused writes none.
    unwritable = subprocess.run([runner, "--snapshot", "s.json", "--history", "no/dir/h.bin"], cwd=work,
                                capture_output=True, text=True, timeout=30)
    assert unwritable.returncode == 2, (unwritable.returncode, unwritable.stderr)
    assert unwritable.stderr == "smd-host: --history no/dir/h.bin cannot be written: No such file or directory\n", \
        unwritable.stderr
    with open(os.path.join(work, "s.json"), "rb") as f:
        assert f.read() == raw
    single = run(work, "--rounds", "1", "--write", "5000=0xBEEF")
    assert "write 5000=48879: confirmed by the unit" in single.stderr, single.stderr
    for bad in ("300", "300=", "300=1,,2", "300=" + ",".join(["1"] * 124)):
        refused = subprocess.run([runner, "--rounds", "1", "--write", bad], cwd=work,
                                 capture_output=True, text=True, timeout=30)
        assert refused.returncode == 2, (bad, refused.returncode, refused.stderr)
        assert "DeviceIoControl" not in refused.stdout, refused.stdout

assert len(snap) == 1489, len(snap)
assert snap["A路进线-电压"] == 220.0, snap["A路进线-电压"]
assert snap["A路进线总开关状态"] == "分闸"
assert snap["环境温度"] == 25.5
assert snap["出线支路05电流越上线"] == "告警"
alerts = snap["AlertArray"]
assert len(alerts) == 457, len(alerts)
assert [name for name, on in alerts.items() if on is True] == ["出线支路05电流越上线"], alerts
numbers = {k: v for k, v in snap.items() if isinstance(v, float)}
assert len(numbers) == 4 + 10 + 720 + 2, len(numbers)
assert {k for k, v in numbers.items() if v != 0} == {"A路进线-电压", "环境温度"}, numbers
words = [v for k, v in snap.items() if isinstance(v, str) and k != "更新时间"]
assert sorted(set(words)) == ["分闸", "告警", "正常"], set(words)
assert words.count("告警") == 1
print("ok")
