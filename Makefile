# The two commands of the README, plus benchmarks, the package, sanitizers, fuzzing and
# CI. Each one first makes sure the Debian packages it needs are there, then configures
# and builds.
JOBS ?= $(shell nproc)
# `make test PRESET=ci` builds with every warning an error, as CI does.
PRESET ?= default
# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 300

# `make run` builds only the programs, `make test` the programs and the tests, `make bench`
# and `make build` everything. The options are passed every time, as the build folder is
# shared.
PROGRAMS_ONLY = -DBRUMLIS_BUILD_TESTS=OFF -DBRUMLIS_BUILD_BENCH=OFF
TESTS_ONLY = -DBRUMLIS_BUILD_TESTS=ON -DBRUMLIS_BUILD_BENCH=OFF
EVERYTHING = -DBRUMLIS_BUILD_TESTS=ON -DBRUMLIS_BUILD_BENCH=ON

.PHONY: all deps build run test bench package asan format format-check fuzz ci clean windows \
	windows-test

all: build

deps:
	@tools/install-deps test bench

build: deps
	@cmake --preset $(PRESET) $(EVERYTHING) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

run:
	@tools/install-deps run
	@cmake --preset default $(PROGRAMS_ONLY) >/dev/null
	@cmake --build --preset default -j $(JOBS) --target brumlis brumlis-cli
	cd data && ../build/bin/brumlis

test: deps
	@cmake --preset $(PRESET) $(TESTS_ONLY) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)
	ctest --preset $(PRESET) -j $(JOBS)

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

# The Windows build in build-windows/ (cross-built with MinGW-w64: the programs in
# build-windows/bin/), and its tests under Wine in a prefix of that folder's own. One Wine
# program is held up for the whole ctest run, or every test would pay seconds to start Wine.
WINE_SESSION = tools/wine-run --prefix build-windows/wine-prefix \
	--session build-windows/bin/wine-keeper.exe --

windows:
	@tools/install-deps windows
	@cmake --preset windows >/dev/null
	@cmake --build --preset windows -j $(JOBS)

windows-test: windows
	@$(WINE_SESSION) ctest --preset windows -j $(JOBS)

format:
	@tools/install-deps ci
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails on any file clang-format would change.
format-check:
	@tools/install-deps ci
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

fuzz: deps
	@tools/install-deps ci
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz --target fuzzers -j $(JOBS)
	@fuzz/run $(FUZZ_SECONDS)

ci:
	@bash .ci/run

clean:
	rm -rf build build-ci build-asan build-fuzz build-windows
