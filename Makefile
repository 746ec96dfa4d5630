# Front door: configures and builds with CMake under build/; every further
# job has a script of its own beside what it checks.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DBSBCHART_WERROR=ON
FUZZ_SECONDS ?= 60

# Before anything is configured, the Debian packages the build and its tests
# need are installed (as root) or named in one apt-get line (otherwise). A
# library-only build needs none of them and skips the check:
#   make build CMAKE_FLAGS="-DBSBCHART_TESTS=OFF -DBSBCHART_TOOLS=OFF"
CHECK_PACKAGES = $(if $(findstring BSBCHART_TESTS=OFF,$(CMAKE_FLAGS)),@true,sh tools/check_packages.sh)

.PHONY: all packages build check demo bench bench-serve fuzz check-sanitize check-valgrind check-windows check-arm clean

all: build

packages:
	$(CHECK_PACKAGES)

$(BUILD)/CMakeCache.txt: | packages
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: packages $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# Every test through CTest; a skipped test fails the check too.
check: build
	sh tools/run_ctest.sh $(BUILD) $(JOBS)

demo: build
	sh tools/demo.sh $(BUILD)

bench:
	sh bench/run.sh

# The viewer under load: 16 clients on loopback, with and without the tile cache.
bench-serve:
	sh bench/serve_load.sh

fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) sh fuzz/run.sh

check-sanitize:
	sh tests/run_sanitizers.sh

check-valgrind: build
	sh tools/check_packages.sh valgrind
	sh tests/run_valgrind.sh $(BUILD)

check-windows:
	sh platforms/check_windows.sh

check-arm:
	sh platforms/check_arm.sh

clean:
	rm -rf $(BUILD) build-*
