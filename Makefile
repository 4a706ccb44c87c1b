# Front door of the project. Every target first makes sure the build dependencies are installed.
#   make demo   builds everything and runs the demo self-extractor under Wine
#   make test   builds the four presets and runs every test suite
#   make bench  compares the codec and the tool with zlib, xz and zstd
#   make fuzz   runs the fuzz targets for longer
#   make test-large  runs the tests of entries above 4 GiB in the sanitizer and Wine builds
#               too (the native suite always runs them; they write 4 GiB to the temporary folder)
SHELL := /bin/bash
.PHONY: all deps native native-san win64 win32 test test-native test-san test-win64 test-large demo bench fuzz clean

all: native

deps:
	@scripts/install-deps

native native-san win64 win32: deps
	cmake --preset $@
	cmake --build --preset $@

test-native: native
	ctest --preset native

test-san: native-san
	ctest --preset native-san

test-win64: win64
	scripts/test-session ctest --preset win64

test: win32 test-native test-san test-win64
	@echo "all test suites passed"

test-large: native-san win64
	ctest --test-dir build/native-san -L large --output-on-failure
	scripts/test-session ctest --test-dir build/win64 -L large --output-on-failure

demo: native win64 win32
	scripts/demo

bench: native
	scripts/bench

fuzz: native-san
	scripts/fuzz

clean:
	rm -rf build
