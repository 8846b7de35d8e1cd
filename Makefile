# Thin wrapper around CMake and CTest. `make help` lists the targets.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
EXAMPLE    ?= examples/blocks.ts
# The interpreter of the Python package: the system's, where numpy and
# pybind11 come from the distribution.
PYTHON     ?= $(or $(wildcard /usr/bin/python3),$(shell command -v python3))

.PHONY: help build run test asan bench fuzz install format clean

help:  ## list the targets
	@grep -E '^[a-z]+:.*## ' $(MAKEFILE_LIST) | sed -E 's/:.*## /\t/'

build:  ## configure and build the optimised program, libraries, tests and Python package
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS)

run: build  ## build, then show the bundled example training set
	./$(BUILD)/vqpeek/vqpeek $(EXAMPLE)

test: build  ## build, then run every test through CTest
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure

asan:  ## build with AddressSanitizer + UndefinedBehaviorSanitizer and run every test
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQPEEK_SANITIZE=ON -DVQPEEK_BUILD_BENCH=OFF -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

bench: build  ## generate benchmark data and time the viewer and its kernels
	bench/run_bench.sh $(BUILD)

fuzz:  ## run every fuzz target for FUZZ_SECONDS seconds each (default 60)
	tests/fuzz/run_fuzz.sh

install: build  ## install the program, libraries, headers and manual page (PREFIX=...)
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

format:  ## format every C++ source with clang-format
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:  ## remove the build directories
	rm -rf $(BUILD) $(ASAN_BUILD)
