# Set-up and everyday targets. `make demo` and `make test` do everything on a fresh
# Debian machine: install the packages, configure, build and run.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=
MAKEFLAGS += --no-print-directory

.PHONY: all bootstrap configure build test demo bench asan fuzz cluster-test clean package package-test

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

# The libFuzzer targets of fuzz/ (clang, with AddressSanitizer and UndefinedBehaviorSanitizer),
# each run for FUZZ_SECONDS from the seed corpus; what they find goes to build-fuzz/findings/.
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	      -DCMAKE_CXX_COMPILER=clang++ -DZELK_FUZZ=ON -DZELK_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j $(JOBS) --target fuzz_vxo_reader fuzz_standard_reader fuzz_pipeline
	scripts/fuzz build-fuzz $(FUZZ_SECONDS) fuzz_vxo_reader fuzz_standard_reader fuzz_pipeline

# The Debian package zelk_<version>_<arch>.deb, built for /usr (so that the program looks
# for its data in /usr/share/zelk) in build-deb/ and copied here.
package: bootstrap
	cmake -S . -B build-deb -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DZELK_TESTS=OFF
	cmake --build build-deb -j $(JOBS)
	cd build-deb && cpack -G DEB
	cp build-deb/zelk_*.deb .

# Installs the package with dpkg -i, runs it and removes it (as root; for CI machines).
package-test: package
	scripts/package-test build-deb/zelk_*.deb --install

clean:
	rm -rf $(BUILD) build-bench build-asan build-fuzz build-deb
