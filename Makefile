# Entry points for people and CI. Every target installs what it needs first.
PRESETS_CI := dev asan tsan
BUILD_JOBS ?= 2

.PHONY: all deps build run test format clean
ONE_PRESET_TESTS := $(addprefix test-,dev release asan tsan)
.PHONY: $(ONE_PRESET_TESTS)

all: build

deps:
	@scripts/install-deps.sh

build/%/build.ninja: CMakePresets.json
	cmake --preset $*

build: deps build/dev/build.ninja
	cmake --build --preset dev -j $(BUILD_JOBS)

# Until the window exists: a search against simulated devices, all inside a
# private network namespace, printed as a table.
run: build
	scripts/netns-run scripts/demo-scan.sh build/dev

test: $(addprefix test-,$(PRESETS_CI))

$(ONE_PRESET_TESTS): test-%: deps
	cmake --preset $* >/dev/null
	cmake --build --preset $* -j $(BUILD_JOBS)
	ctest --preset $*

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

clean:
	rm -rf build
