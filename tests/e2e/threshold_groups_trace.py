"""smd-host with the threshold-group example settings: ambient temperature 25, 36, 32, 30, 34
degrees over five rounds (--set-at) raises its upper rule (35, recovery 30) in round 2, holds it
in round 3 and clears it in round 4, where it stays clear although 34 is above the recovery."""
import json
import os
import subprocess
import sys
import tempfile

runner, settings = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
TEMPERATURE = 4247  # ambient temperature register, tenths of a degree
values = [250, 360, 320, 300, 340]
args = [runner, "--settings", settings, "--rounds", str(len(values)), "--interval", "1"]
for round_number, value in enumerate(values, start=1):
    args += ["--set-at", f"{round_number}:{TEMPERATURE}={value}"]

with tempfile.TemporaryDirectory() as work:
    trace_path = os.path.join(work, "t.jsonl")
    run = subprocess.run(args + ["--trace", trace_path], cwd=work, capture_output=True, text=True,
                         timeout=60)
    assert run.returncode == 0, run.stderr
    calls = [json.loads(line) for line in open(trace_path, encoding="utf-8")]

# Split the trace into rounds at each RefreshStatus.
rounds = []
for call in calls:
    if call["call"] == "RefreshStatus":
        rounds.append([])
    elif rounds:
        rounds[-1].append(call)
assert len(rounds) == len(values), len(rounds)


def report(round_calls, alarm_id):
    found = [c["args"] for c in round_calls
             if c["call"] == "CheckThresholdBool" and c["args"][2] == alarm_id]
    assert len(found) == 1, (alarm_id, found)
    return found[0]


upper = [report(r, "0418101001") for r in rounds]
assert [a[5] for a in upper] == [False, True, True, False, False], upper
assert [a[4] for a in upper] == ["", "当前值36高于阈值:35", "当前值32高于阈值:35", "", ""], upper
assert [a[3] for a in upper] == ["25", "36", "32", "30", "34"], upper
assert all(a[0] == 2 and a[1] == "环境温度" and a[6] == 1 for a in upper), upper

# Every rule is reported every round, in the order up, up2, low, then by signal name.
order = [c["args"][2] for c in rounds[0] if c["call"] == "CheckThresholdBool"]
assert order == ["0418101001", "0418102001", "0418101002", "0418101003"], order

# Only the changes of rounds 2 and 4 reach the host's batch check.
batches = [[c["args"][0] for c in r if c["call"] == "DoBatchCheckThreshold"] for r in rounds]
assert batches == [[0], [1], [0], [1], [0]], batches
assert run.stdout.count("rvSize is 1") == 2, run.stdout
print("ok")
