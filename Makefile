# The commands of the README, plus the benchmarks and the package. Each one first makes
# sure the Debian packages it needs are there, then configures and builds.
JOBS ?= $(shell nproc)

# `make run` builds only the two programs; everything else builds the tests and
# benchmarks too. The options are passed every time, as the build folder is shared.
PROGRAMS_ONLY = -DBRUMLIS_BUILD_TESTS=OFF -DBRUMLIS_BUILD_BENCH=OFF
EVERYTHING = -DBRUMLIS_BUILD_TESTS=ON -DBRUMLIS_BUILD_BENCH=ON

.PHONY: all deps build run test bench package asan format clean

all: build

deps:
	@tools/install-deps test bench

build: deps
	@cmake --preset default $(EVERYTHING) >/dev/null
	@cmake --build --preset default -j $(JOBS)

run:
	@tools/install-deps run
	@cmake --preset default $(PROGRAMS_ONLY) >/dev/null
	@cmake --build --preset default -j $(JOBS) --target brumlis brumlis-cli
	cd data && ../build/bin/brumlis

test: build
	ctest --preset default -j $(JOBS)

bench: build
	@tools/run-bench

# build/brumlis_<version>_amd64.deb, checked by lintian (which fails on an error).
package:
	@tools/install-deps package
	@cmake --preset default $(PROGRAMS_ONLY) >/dev/null
	@cmake --build --preset default -j $(JOBS)
	cd build && cpack -G DEB
	lintian --info build/brumlis_$$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$$/\1/p' build/CPackConfig.cmake)_amd64.deb

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan
