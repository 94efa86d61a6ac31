"""smd-host in a folder holding ini/1.yaml from the examples: the unit's alarms reach the host as
CheckThresholdBool calls with the configured identifiers, their states and serials 1, 2, 3...
The mobile examples (rules and settings) report each rule at its level, every round."""
import json
import os
import shutil
import subprocess
import sys
import tempfile

runner, examples = sys.argv[1], sys.argv[2]
with tempfile.TemporaryDirectory() as work:
    os.makedirs(os.path.join(work, "ini"))
    shutil.copy(os.path.join(examples, "unicom.yaml"), os.path.join(work, "ini", "1.yaml"))
    trace_path = os.path.join(work, "t.jsonl")
    run = subprocess.run([runner, "--rounds", "2", "--interval", "0", "--trace", trace_path,
                          "--set", "4098=1",       # system total alarm
                          "--set", "7433=0x0002",  # feeder 2 current over upper limit
                          "--set", "7451=0x8000",  # line A incoming main switch alarm
                          "--set", "7456=0x0001"],  # feeder 1 switch opened
                         cwd=work, capture_output=True, text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    assert "parse ini/yaml filename:./ini/1.yaml\n" in run.stdout, run.stdout
    assert "parse alarm:系统总告警状态 >> 0417001001\n" in run.stdout, run.stdout
    calls = [json.loads(line) for line in open(trace_path, encoding="utf-8")]

expected = [
    ("0417001001", "系统总告警状态", True),
    ("0417002001", "出线支路01电流越上线", False),
    ("0417002002", "出线支路02电流越上线", True),
    ("0417003001", "出线支路01电流越上上线", False),
    ("0417004001", "A路进线总开关开关告警", True),
    ("0417004004", "B路进线防雷器失效告警", False),
    ("0417005001", "出线支路01开关分闸", True),
    ("0417005002", "出线支路02开关分闸", False),
]
rounds = []
for c in calls:
    if c["call"] == "SendSP":
        rounds.append([])
    elif c["call"] == "CheckThresholdBool":
        rounds[-1].append(c["args"])
assert len(rounds) == 2, len(rounds)
for reports in rounds:
    want = [[2, i, i, n, n, s, serial] for serial, (i, n, s) in enumerate(expected, start=1)]
    assert reports == want, json.dumps(reports, ensure_ascii=False)

# The shipped mobile rules with the shipped mobile settings, at 36.0 degrees: the settings give each
# rule its level and threshold (a level of 0 would only log it).
with tempfile.TemporaryDirectory() as work:
    os.makedirs(os.path.join(work, "ini", "mobile"))
    shutil.copy(os.path.join(examples, "mobile.ini"), os.path.join(work, "ini", "mobile", "px46tr_k.ini"))
    trace_path = os.path.join(work, "t.jsonl")
    run = subprocess.run([runner, "--rounds", "2", "--interval", "0", "--trace", trace_path,
                          "--settings", os.path.join(examples, "mobile_settings.json"), "--set", "4247=360"],
                         cwd=work, capture_output=True, text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    assert run.stderr.count(", 3 alarm reports,") == 2, run.stderr
    reports = [json.loads(line)["args"] for line in open(trace_path, encoding="utf-8")
               if '"CheckThresholdBool"' in line]
    assert sorted((r[1], r[0], r[5]) for r in reports[:3]) == [
        ("0406001001", 1, False), ("0418001001", 2, True), ("0418001002", 2, False)], reports
print("ok")
