# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands a new machine needs: `make run` and `make test`.
PRESET ?= default
BUILD  := build

.PHONY: all deps configure build run test bench check-asan check-tsan clean

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

# The threaded parts (capture, store writer, publishing) under ThreadSanitizer (not part of CI).
check-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@ctest --preset tsan

clean:
	@rm -rf build build-debug build-asan build-tsan
