# Front door of the project. Every target first makes sure the build dependencies are installed.
#   make demo   builds everything and runs the demo self-extractor under Wine
#   make test   builds the four presets and runs every test suite (win32 under 32-bit Wine),
#               and the tool's parallel runs under the thread sanitizer
#   make bench  compares the codec and the tool with zlib, xz and zstd
#   make fuzz   runs the fuzz targets for longer
#   make mutants  seeds faults in the product one at a time and counts those the tests catch
#   make install [PREFIX=/usr/local]   installs the tool, the library and both stubs
#   make package                       builds the Debian package (build/native/package/)
SHELL := /bin/bash
.PHONY: all deps native native-san native-tsan win64 win32 test test-native test-san test-tsan test-win64 test-win32 demo bench fuzz mutants install package format-check clean
PREFIX ?= /usr/local

all: native

deps:
	@scripts/install-deps

native native-san native-tsan win64 win32: deps
	cmake --preset $@
	cmake --build --preset $@

# The native tool and install tests take the stubs of both Windows builds (VORX_STUB_WIN32,
# VORX_STUB_WIN64), so those are built first, also under make -j.
test-native: native win32 win64
	ctest --preset native

test-san: native-san
	ctest --preset native-san

# The tool's runs on several threads under the thread sanitizer: the preset builds only the
# library, the tool and test_parallel, and runs that test alone.
test-tsan: native-tsan
	ctest --preset native-tsan

test-win64: win64
	scripts/test-session ctest --preset win64

# The 32-bit suites run under 32-bit Wine; where the kernel cannot run 32-bit programs
# ctest reports them as skipped, and the end of the run says so.
test-win32: win32
	scripts/test-session ctest --preset win32

# The native suites install the stubs of both Windows builds, so those are built first.
# The product sources follow .clang-format.
format-check: deps
	scripts/format-check

test: format-check win32 win64 test-native test-san test-tsan test-win64 test-win32
	@if reason=$$(scripts/i386-probe 2>&1); then \
	  echo "all test suites passed"; \
	else \
	  echo "all test suites passed, but the win32 suites were SKIPPED: $$reason"; \
	fi

demo: native win64 win32
	scripts/demo

bench: native
	scripts/bench

fuzz: native-san
	scripts/fuzz

# A tool, not a test: MUTANTS_SEED, MUTANTS_COUNT, MUTANTS_FOLDERS, MUTANTS_SECONDS (scripts/mutants).
mutants: deps
	scripts/mutants

# The native build installs the stubs made by the two Windows builds.
install: native win32 win64
	cmake --install build/native --prefix "$(PREFIX)"

package: native win32 win64
	cd build/native && cpack
	@ls build/native/package/*.deb

clean:
	rm -rf build
