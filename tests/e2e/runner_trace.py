"""smd-host --rounds 1 --trace: the trace holds the round's reads and its completion."""
import json
import os
import subprocess
import sys
import tempfile

runner = sys.argv[1]
with tempfile.TemporaryDirectory() as work:
    trace_path = os.path.join(work, "t.jsonl")
    run = subprocess.run([runner, "--rounds", "1", "--trace", trace_path, "--set", "4=0x1234"],
                         cwd=work, capture_output=True, text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    assert "rvSize is 0" in run.stdout, run.stdout
    assert "round 1: 62 reads" in run.stderr and "1 saved to the host's history;" in run.stderr, run.stderr
    calls = [json.loads(line) for line in open(trace_path, encoding="utf-8")]

names = [c["call"] for c in calls]
reads = [c["args"] for c in calls if c["call"] == "modbus_read_registers"]
assert len(reads) == 62, len(reads)
assert reads[0] == [0, 4] and reads[-1] == [7456, 10], (reads[0], reads[-1])
send = [c["args"] for c in calls if c["call"] == "SendSP"]
assert len(send) == 1 and send[0][0] == 5156 and send[0][2] == 3921 and send[0][3] is False, send
record = bytes.fromhex(send[0][1])
assert len(record) == 3921
assert record[12:14] == bytes([0x34, 0x12]), record[12:14].hex()
tail = names[names.index("SendSP"):]
assert tail == ["SendSP", "Reset", "DoBatchCheckThreshold", "SaveDeviceHistory"], tail
assert [c["args"] for c in calls if c["call"] == "DoBatchCheckThreshold"] == [[0]]
print("ok")
