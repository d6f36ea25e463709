# Entry points for people and CI. Every target installs what it needs first.
PRESETS_CI := dev asan tsan
BUILD_JOBS ?= 2

.PHONY: all deps build run demo test bench format clean
ONE_PRESET_TESTS := $(addprefix test-,dev release asan tsan)
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
# runs in a scratch folder, so that no settings file of yours is touched.
demo: build
	scripts/netns-run bash -c '$(DEMO_SCRIPT)'

define DEMO_SCRIPT
set -eu; work=$$(mktemp -d); \
build/dev/tools/devsim/quorvik-devsim --config tools/devsim/examples/demo.json >"$$work/sim.out" & \
sim=$$!; trap "kill $$sim 2>/dev/null; wait $$sim 2>/dev/null; rm -rf \"$$work\"" EXIT; \
for _ in $$(seq 100); do grep -q "^ready" "$$work/sim.out" && break; sleep 0.05; done; \
app=$$(pwd)/build/dev/app/qt/quorvik; cd "$$work" && "$$app"
endef

test: $(addprefix test-,$(PRESETS_CI))

$(ONE_PRESET_TESTS): test-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(BUILD_JOBS)
	ctest --preset $*

# Timed runs against the simulator, in a private network namespace.
bench: deps build/release/build.ninja
	cmake --build --preset release -j $(BUILD_JOBS) --target firmware_write_bench
	scripts/netns-run build/release/bench/firmware_write_bench

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
