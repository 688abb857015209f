# The two commands of the README, plus the benchmarks. Each one first makes sure
# the Debian packages are there, then configures and builds.
JOBS ?= $(shell nproc)

.PHONY: all deps build run test bench asan format clean

all: build

deps:
	@tools/install-deps

build: deps
	@cmake --preset default >/dev/null
	@cmake --build --preset default -j $(JOBS)

run: build
	cd data && ../build/bin/brumlis

test: build
	ctest --preset default -j $(JOBS)

bench: build
	@tools/run-bench

asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan
