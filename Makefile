# Entry points for people and CI. Every target installs what it needs first.
SHELL := /bin/bash
# What `make test` (and CI) builds and tests: the release build that is
# also packaged, AddressSanitizer with UBSan, ThreadSanitizer; then the
# fuzzers. docs/performance.md has the time of each.
PRESETS_CI := ci asan tsan
BUILD_JOBS ?= 2
FUZZ_TARGETS := reply_processing firmware_file settings_file rig_file
FUZZ_SECONDS ?= 600
CI_FUZZ_SECONDS ?= 60

.PHONY: all deps build run demo test bench fuzz format clean package test-package chaos chaos-fleet
ONE_PRESET_TESTS := $(addprefix test-,dev release ci asan tsan)
.PHONY: $(ONE_PRESET_TESTS)

all: build

deps:
	@scripts/install-deps.sh

build/%/build.ninja: CMakePresets.json
	cmake --preset $*

build: deps build/dev/build.ninja
	cmake --build --preset dev -j $(BUILD_JOBS)

# The program itself, on this computer's real network: it broadcasts its
# searches there.
run: build
	build/dev/app/qt/quorvik

# The window against simulated devices, both inside one private network
# namespace that holds only lo, so nothing reaches a real network. The window
# runs in a scratch folder with a settings file and a journal of its own, so
# that no settings file of yours is touched and simulated devices never end
# up in your journal (nor in the system journal).
demo: build
	scripts/netns-run bash -c '$(DEMO_SCRIPT)'

define DEMO_SCRIPT
set -eu; work=$$(mktemp -d); \
build/dev/tools/devsim/quorvik-devsim --config tools/devsim/examples/demo.json >"$$work/sim.out" & \
sim=$$!; trap "kill $$sim 2>/dev/null; wait $$sim 2>/dev/null; rm -rf \"$$work\"" EXIT; \
for _ in $$(seq 100); do grep -q "^ready" "$$work/sim.out" && break; sleep 0.05; done; \
app=$$(pwd)/build/dev/app/qt/quorvik; cd "$$work" && touch Quorvik.ini && \
QUORVIK_JOURNAL="$$work/journal.jsonl" "$$app" --no-syslog
endef

test: $(addprefix test-,$(PRESETS_CI)) test-ci-package
	$(MAKE) fuzz FUZZ_SECONDS=$(CI_FUZZ_SECONDS)

$(ONE_PRESET_TESTS): test-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(BUILD_JOBS)
	ctest --preset $*

# The Debian package, from a release build for /usr without the tests:
# build/quorvik_VERSION_ARCH.deb.
package: deps build/package/build.ninja
	cmake --build --preset package -j $(BUILD_JOBS)
	rm -rf build/package/cpack build/quorvik_*.deb
	cd build/package && cpack -B $(CURDIR)/build/package/cpack
	cp build/package/cpack/quorvik_*.deb build/

test-package: package
	scripts/check-package.sh build/quorvik_*.deb

# The package of the release build that `make test` has just tested: the
# same flags and prefix as `make package`, built once.
.PHONY: test-ci-package
test-ci-package: test-ci
	rm -rf build/ci/cpack build/quorvik_*.deb
	cd build/ci && cpack -B $(CURDIR)/build/ci/cpack
	cp build/ci/cpack/quorvik_*.deb build/
	scripts/check-package.sh build/quorvik_*.deb

# Complete updates under SCHEDULES randomised fault schedules from SEED on,
# in process and in virtual time: no socket is opened, so no namespace is
# needed. Ends with "chaos: N schedules, F false successes, U undetectable,
# seed S".
SCHEDULES ?= 10000
SEED ?= 1
chaos: deps build/dev/build.ninja
	cmake --build --preset dev -j $(BUILD_JOBS) --target quorvik-chaos
	build/dev/tests/quorvik-chaos --schedules $(SCHEDULES) --seed $(SEED)

# The same for fleet updates of 2 to 8 devices written side by side; ends
# with "chaos fleet: N schedules, F false successes, U undetectable, seed S".
chaos-fleet: deps build/dev/build.ninja
	cmake --build --preset dev -j $(BUILD_JOBS) --target quorvik-chaos
	build/dev/tests/quorvik-chaos --fleet --schedules $(SCHEDULES) --seed $(SEED)

# Timed runs against the simulator, in a private network namespace.
bench: deps build/release/build.ninja
	cmake --build --preset release -j $(BUILD_JOBS) --target firmware_write_bench fleet_bench station_bench
	scripts/netns-run build/release/bench/firmware_write_bench
	scripts/netns-run build/release/bench/fleet_bench
	scripts/netns-run build/release/bench/station_bench

# Each fuzz target for FUZZ_SECONDS, as many at once as there are build
# jobs, from a copy of its seed corpus; any crash, leak or sanitizer report
# fails the run and leaves its input in build/fuzz/artifacts.
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(BUILD_JOBS) --target $(addsuffix _fuzz,$(FUZZ_TARGETS))
	scripts/fuzz-run $(FUZZ_SECONDS) $(BUILD_JOBS) $(FUZZ_TARGETS)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
