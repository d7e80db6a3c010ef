# The two commands a new machine needs: `make run` and `make test`.
PRESET ?= default
BUILD  := build

.PHONY: all deps configure build run test bench check-asan clean

all: build

deps:
	@scripts/install-deps

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET)

run: build
	@scripts/run $(ARGS)

test: build
	@ctest --preset $(PRESET)

bench: build
	@scripts/bench

# Every test again in a build with AddressSanitizer and UndefinedBehaviorSanitizer (not part of CI).
check-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

clean:
	@rm -rf build build-debug build-asan
