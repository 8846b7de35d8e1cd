# Thin wrapper around CMake and CTest. `make help` lists the targets.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
EXAMPLE    ?= examples/blocks.ts
# The interpreter of the Python package: the system's, where numpy and
# pybind11 come from the distribution.
PYTHON     ?= $(or $(wildcard /usr/bin/python3),$(shell command -v python3))
# Ninja where it is installed, as it keeps both processors busiest; Make
# otherwise. A build directory keeps the generator it was configured with.
GENERATOR  ?= $(if $(shell command -v ninja 2>/dev/null),Ninja,Unix Makefiles)
generator   = $(if $(wildcard $(1)/CMakeCache.txt),,-G "$(GENERATOR)")

.PHONY: help program build run test asan tsan bench bench-scale fuzz portability package pip-check install format clean

help:  ## list the targets
	@grep -E '^[a-z-]+:.*## ' $(MAKEFILE_LIST) | sed -E 's/:.*## /\t/'

program:  ## configure and build the program and library alone (no GoogleTest needed)
	cmake $(call generator,$(BUILD)) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS) --target vqpeek

build:  ## configure and build the optimised program, libraries, tests and Python package
	cmake $(call generator,$(BUILD)) -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVQPEEK_BUILD_TESTS=ON \
	  -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(BUILD) -j $(JOBS)

run: program  ## build, then show the bundled example training set
	./$(BUILD)/vqpeek/vqpeek $(EXAMPLE)

test: build  ## build, then run every test through CTest
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure
	@echo 'The slowest tests (seconds):'
	@grep -v '^---' $(BUILD)/Testing/Temporary/CTestCostData.txt | sort -k3 -g -r | head -n 5 | \
	  awk '{printf "  %7.2f  %s\n", $$3, $$1}'

asan:  ## build with AddressSanitizer + UndefinedBehaviorSanitizer and run every test
	cmake $(call generator,$(ASAN_BUILD)) -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQPEEK_SANITIZE=ON \
	  -DVQPEEK_BUILD_TESTS=ON -DVQPEEK_BUILD_BENCH=OFF -DPython3_EXECUTABLE=$(PYTHON)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) -j $(JOBS) --output-on-failure

tsan:  ## build with ThreadSanitizer and run every C++ test, each one that starts threads among them
	cmake $(call generator,$(TSAN_BUILD)) -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVQPEEK_TSAN=ON \
	  -DVQPEEK_BUILD_TESTS=ON -DVQPEEK_BUILD_BENCH=OFF -DVQPEEK_BUILD_EXAMPLES=OFF \
	  -DVQPEEK_BUILD_PYTHON=OFF
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 $(TSAN_OPTIONS)" ctest --test-dir $(TSAN_BUILD) -j $(JOBS) \
	  --output-on-failure

bench: build  ## generate benchmark data and time the viewer and its kernels
	bench/run_bench.sh $(BUILD)

bench-scale: build  ## time -Q1 TS, -Q1 [-S] TS CB, -Q0 -S TS and -F2 TS against wc -l, and vqtrain --stream, on 100,000,000 vectors (2.1 GB under .bench/; not in CI)
	bench/run_bench_scale.sh $(BUILD)

fuzz:  ## run every fuzz target for FUZZ_SECONDS seconds each (default 60)
	tests/fuzz/run_fuzz.sh

portability: build  ## cross-build for aarch64 (run under qemu-user) and build with clang, compare with this build
	tests/portability/run_portability.sh $(BUILD)

package:  ## make the Debian packages (build/packages/), check them with lintian and against their installation
	debian/make_packages.sh $(BUILD)/packages
	tests/package/check_deb.sh . $(BUILD)/packages

pip-check:  ## pip wheel and pip install of the checkout into a new venv, built from scratch, then the package's tests
	$(PYTHON) python/check_pip_install.py . $${TMPDIR:-/tmp}/vqpeek-pip-check

install: build  ## install the program, libraries, headers, package files and manual page (PREFIX=...)
	cmake --install $(BUILD) $(if $(PREFIX),--prefix $(PREFIX))

format:  ## format every C++ source with clang-format
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:  ## remove the build directories
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) build-portability build-fuzz build-pip
