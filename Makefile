# The two commands of the README, plus benchmarks, sanitizers, fuzzing and CI. Each one
# first makes sure the Debian packages are there, then configures and builds.
JOBS ?= $(shell nproc)
# `make test PRESET=ci` builds with every warning an error, as CI does.
PRESET ?= default
# How long `make fuzz` runs each fuzz target.
FUZZ_SECONDS ?= 300

.PHONY: all deps build run test bench asan format format-check fuzz ci clean

all: build

deps:
	@tools/install-deps

build: deps
	@cmake --preset $(PRESET) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	cd data && ../build/bin/brumlis

test: build
	ctest --preset $(PRESET) -j $(JOBS)

bench: build
	@tools/run-bench

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

format: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails on any file clang-format would change.
format-check: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

fuzz: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz --target fuzzers -j $(JOBS)
	@fuzz/run $(FUZZ_SECONDS)

ci:
	@bash .ci/run

clean:
	rm -rf build build-ci build-asan build-fuzz
