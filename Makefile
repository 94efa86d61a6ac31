# Front door: each target installs what is missing, configures and builds before it runs.
BUILD ?= build
ROUNDS ?= 3
# A live-looking unit: the simulator's default scenario loaded into the in-process simulated unit.
UNIT_REGISTERS = $(BUILD)/default-unit.json
RUN_ARGS ?= --rounds $(ROUNDS) --view --registers default-unit.json

.PHONY: all deps build run test fuzz clean

all: build

deps:
	@bash scripts/setup-deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD)

# The main job: the stand-in host runner against the built-in simulated unit.
run: build
	$(BUILD)/bin/px46tr_k-sim --dump-registers $(UNIT_REGISTERS)
	cd $(BUILD) && ./bin/smd-host $(RUN_ARGS)

# Every test, the end-to-end ones included.
test: build
	cd $(BUILD) && ctest --output-on-failure --timeout 300

# The fuzz targets, built with clang and the sanitizers in their own folder, FUZZ_SECONDS each.
FUZZ_SECONDS ?= 600
fuzz:
	bash scripts/run-fuzzers.sh $(FUZZ_SECONDS)

# The Debian package of the build, written into $(BUILD).
.PHONY: package
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD)
