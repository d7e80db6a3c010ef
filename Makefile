# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands a new machine needs: `make run` and `make test`.
PRESET ?= default
BUILD  := build
# `make install PREFIX=/usr DESTDIR=/tmp/stage`; the system's folders (units, udev rules)
# follow the prefix.
PREFIX ?= /usr/local
DESTDIR ?=
# A second build without the window for the quivra-recorder package.
HEADLESS := build-headless

.PHONY: all deps configure build run test bench install package check-asan check-tsan check-headless format clean

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

install: configure
	@cmake --build $(BUILD) --target quivra quivra_data
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Two Debian packages in packages/: quivra (the window and the subcommands) and quivra-recorder
# (the subcommands alone, from a build configured with -DQUIVRA_GUI=OFF), both built with Debian's
# hardening flags; then lintian on both.
package: deps
	@scripts/install-deps packaging
	@scripts/package build-package $(HEADLESS)

# Every test again in a build with AddressSanitizer and UndefinedBehaviorSanitizer (not part of CI).
check-asan: deps
	@cmake --preset asan >/dev/null
	@cmake --build --preset asan
	@ctest --preset asan

# The threaded parts (capture, the recorder's shutdown, store writer, publishing) under
# ThreadSanitizer; CI runs it after `make test`.
check-tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan
	@ctest --preset tsan

# The build without the window: the subcommands alone, linked without Qt Widgets, Qt Gui or GL,
# with the tests that apply to it (one of them checks what the program links).
check-headless: deps
	@cmake -S . -B $(HEADLESS) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUIVRA_GUI=OFF >/dev/null
	@cmake --build $(HEADLESS)
	@ctest --test-dir $(HEADLESS) --output-on-failure --timeout 300

# The tree in the style of .clang-format.
format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-debug build-asan build-tsan build-package build-headless packages
