# The two commands of the README: `make run` and `make test`. Both install what is
# missing first, then configure and build with the CMake presets.
PRESET ?= default
BUILD  := build

.PHONY: all deps configure build run test test-asan fuzz bench install clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@scripts/run-app.sh $(BUILD)

test: build
	@ctest --preset $(PRESET) -j2

test-asan:
	@$(MAKE) test PRESET=asan

# Each libFuzzer target for FUZZ_SECONDS (default 60): make fuzz FUZZ_SECONDS=600
fuzz:
	@scripts/install-deps.sh fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz
	@scripts/fuzz.sh

bench: build
	@bench/run-all.sh $(BUILD)

install: build
	@cmake --install $(BUILD)

clean:
	@rm -rf build build-asan build-fuzz build-release
