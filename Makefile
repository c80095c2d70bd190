# Set-up and everyday targets. `make demo` and `make test` do everything on a fresh
# Debian machine: install the packages, configure, build and run.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
MAKEFLAGS += --no-print-directory

.PHONY: all bootstrap configure build test demo bench asan cluster-test clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)

# zelk-slurm on a single-node Slurm cluster started for the test (installs slurm-wlm and
# munge when missing; needs root; about 2 to 3 minutes).
cluster-test: configure
	cmake --build $(BUILD) -j $(JOBS) --target zelk-batch
	@scripts/cluster-test $(BUILD)

# Benchmarks: an optimised build without the array bounds checks.
bench: bootstrap
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DZELK_CHECKED=OFF -DZELK_TESTS=OFF -DZELK_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	@for b in build-bench/bench_*; do echo "== $$b"; $$b; done

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: bootstrap
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) build-bench build-asan
