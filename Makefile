# Front door: configures and builds with CMake under build/; every further
# job has a script of its own beside what it checks.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?= -DBSBCHART_WERROR=ON
FUZZ_SECONDS ?= 60

.PHONY: all build check demo bench bench-serve fuzz check-sanitize check-valgrind check-windows check-arm clean

all: build

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

check: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

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
	sh tests/run_valgrind.sh $(BUILD)

check-windows:
	sh platforms/check_windows.sh

check-arm:
	sh platforms/check_arm.sh

clean:
	rm -rf $(BUILD) build-*
