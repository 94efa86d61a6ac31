"""smd-host --set-at K:REG=VALUE: the register changes just before round K and stays changed."""
import json
import os
import subprocess
import sys
import tempfile

runner = sys.argv[1]
with tempfile.TemporaryDirectory() as work:
    trace_path = os.path.join(work, "t.jsonl")
    run = subprocess.run([runner, "--rounds", "3", "--interval", "0", "--trace", trace_path,
                          "--set", "4=0x0101", "--set-at", "2:4=0x1234", "--set-at", "3:5=7"],
                         cwd=work, capture_output=True, text=True, timeout=30)
    assert run.returncode == 0, run.stderr
    records = [bytes.fromhex(json.loads(line)["args"][1])
               for line in open(trace_path, encoding="utf-8") if '"SendSP"' in line]
    assert len(records) == 3, len(records)
    # Registers 4 and 5 sit at record bytes 12 to 15, native byte order.
    assert [r[12:16].hex() for r in records] == ["01010000", "34120000", "34120700"], \
        [r[12:16].hex() for r in records]
    bad = subprocess.run([runner, "--rounds", "2", "--set-at", "3:4=1"], cwd=work,
                         capture_output=True, text=True, timeout=30)
    assert bad.returncode == 2 and "not from 1 to --rounds" in bad.stderr, bad.stderr
print("ok")
