# Front door of the project. Every target first makes sure the build dependencies are installed.
#   make demo   builds everything and runs the demo self-extractor under Wine
#   make test   builds the four presets and runs every test suite
#   make bench  compares the codec and the tool with zlib, xz and zstd
#   make fuzz   runs the fuzz targets for longer
SHELL := /bin/bash
.PHONY: all deps native native-san win64 win32 test test-native test-san test-win64 demo bench fuzz clean

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

demo: native win64 win32
	scripts/demo

bench: native
	scripts/bench

fuzz: native-san
	scripts/fuzz

clean:
	rm -rf build
