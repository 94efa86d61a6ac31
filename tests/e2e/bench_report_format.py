"""px46_bench honours Google Benchmark's --benchmark_format: with json its standard output is one
JSON document holding the benchmarks run, and the ratio lines go to standard error."""
import json
import subprocess
import sys

bench = sys.argv[1]
run = subprocess.run([bench, "--benchmark_filter=BM_SteadyRound$|BM_HostRound$", "--benchmark_format=json",
                      "--benchmark_min_time=0.01"], capture_output=True, text=True, timeout=120)
assert run.returncode == 0, run.stderr
report = json.loads(run.stdout)
names = sorted(b["name"] for b in report["benchmarks"])
assert names == ["BM_HostRound", "BM_SteadyRound"], names
assert "plug-in share of a steady round (steady - host, CPU): " in run.stderr, run.stderr
print("ok")
