# The two commands of the README: `make run` and `make test`. Both install what is
# missing first, then configure and build with the CMake presets.
PRESET ?= default
BUILD  := build

.PHONY: all deps configure build run test test-asan fuzz bench install package clean

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

# build-package/iamlink_<version>_<arch>.deb, built with Debian's hardening flags, then checked.
package:
	@scripts/install-deps.sh package
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; cmake --preset package \
		-DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" >/dev/null
	@cmake --build --preset package
	@rm -f build-package/*.deb
	@cpack --preset package
	@scripts/check-package.sh build-package/iamlink_*.deb

clean:
	@rm -rf build build-asan build-fuzz build-release build-package
