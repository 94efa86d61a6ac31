# Front door: each target installs what is missing, configures and builds before it runs.
BUILD ?= build
ROUNDS ?= 3
# A live-looking unit: the simulator's default scenario loaded into the in-process simulated unit.
UNIT_REGISTERS = $(BUILD)/default-unit.json
RUN_ARGS ?= --rounds $(ROUNDS) --view --registers default-unit.json

.PHONY: all deps build run test bench fuzz clean

all: build

deps:
	@bash scripts/setup-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

# What `make run` needs, and no more: the runner, the plug-in it loads, the simulator that writes
# the unit's registers, and their libraries. `make test`, `make bench` and `make package` build
# the rest they need.
RUN_TARGETS = smd-host px46tr_k px46tr_k-sim

# The main job: the stand-in host runner against the built-in simulated unit.
run: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target $(RUN_TARGETS)
	$(BUILD)/bin/px46tr_k-sim --dump-registers $(UNIT_REGISTERS)
	cd $(BUILD) && ./bin/smd-host $(RUN_ARGS)

# Every test, the end-to-end ones included.
test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 300

# The benchmarks: the Google Benchmark figures (rounds, snapshot, 801; BENCH_ARGS passed on, e.g.
# --benchmark_filter=Round), then the scale program with SCALE_DEVICES devices of SCALE_ROUNDS
# rounds each. Builds the two programs only.
BENCH_ARGS ?=
SCALE_DEVICES ?= 100
SCALE_ROUNDS ?= 10
bench: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target px46_bench px46_scale
	$(BUILD)/bin/px46_bench $(BENCH_ARGS)
	$(BUILD)/bin/px46_scale --devices $(SCALE_DEVICES) --rounds $(SCALE_ROUNDS)

# The fuzz targets, built with clang and the sanitizers in their own folder, FUZZ_SECONDS each.
FUZZ_SECONDS ?= 600
fuzz:
	bash scripts/run-fuzzers.sh $(FUZZ_SECONDS)

# The Debian package of the build and its debug symbols, written into $(BUILD); `make lintian`
# checks the package as CI does (no error, no warning).
.PHONY: package lintian
package: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) --target $(RUN_TARGETS) manual_pages changelog
	cd $(BUILD) && cpack -G DEB

lintian: package
	@bash scripts/setup-deps.sh lintian
	lintian --fail-on error,warning --info --pedantic $(BUILD)/px46tr-k_*.deb $(BUILD)/px46tr-k-dbgsym_*.ddeb

clean:
	rm -rf $(BUILD)
