# make demo: the main job; make test: the whole test suite; make bench: the peer comparison.
# Each target first prepares the machine with scripts/bootstrap.sh.
PY := .venv/bin/python
ASAN_DIR := build/asan
SANITIZER_RUNTIME = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)
SANITIZED = LD_PRELOAD="$(SANITIZER_RUNTIME)" ASAN_OPTIONS=detect_leaks=0 PYTHONPATH=$(abspath $(ASAN_DIR))/pkg
FUZZ_SECONDS ?= 60

.PHONY: bootstrap demo test test-python typecheck test-sanitized sanitizer-build test-fuzz fuzz bench

bootstrap:
	bash scripts/bootstrap.sh

demo: bootstrap
	$(PY) examples/demo.py

test: export SLIVR_EXTRAS=test,fuzz
test: bootstrap
	$(MAKE) test-python
	$(MAKE) typecheck
	$(MAKE) test-sanitized
	$(MAKE) test-fuzz

test-python:
	$(PY) -m pytest -q tests

# slivr.pyi against the installed module (every name, parameter and default), and the examples
# under mypy --strict.
typecheck:
	$(PY) -m mypy.stubtest slivr
	$(PY) -m mypy --strict examples

# The native tests and the Python suite again, against a build under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report aborts the run.
test-sanitized: sanitizer-build
	cd $(ASAN_DIR) && ctest --output-on-failure
	LD_PRELOAD="$(SANITIZER_RUNTIME)" ASAN_OPTIONS=detect_leaks=0 \
		SLIVR_EXPECT_PATH=$(abspath $(ASAN_DIR))/pkg PYTHONPATH=$(abspath $(ASAN_DIR))/pkg \
		$(PY) -m pytest -q -p no:cacheprovider tests

sanitizer-build:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSLIVR_SANITIZE=ON -DSLIVR_NATIVE_TESTS=ON \
		-DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build $(ASAN_DIR)

# Every fuzz target (fuzz/harness.py) for three seconds on the sanitizer build, from the seed
# inputs alone and on a fixed seed, so that each run makes the same inputs in the same order.
test-fuzz: sanitizer-build
	$(SANITIZED) $(PY) fuzz/run.py --seconds 3 --seed 1 --fresh

# The fuzz targets for FUZZ_SECONDS each, on the sanitizer build; inputs worth keeping collect
# in build/fuzz/corpus and crash inputs in build/fuzz/artifacts.
fuzz: export SLIVR_EXTRAS=test,fuzz
fuzz: bootstrap sanitizer-build
	$(SANITIZED) $(PY) fuzz/run.py --seconds $(FUZZ_SECONDS)

bench: export SLIVR_EXTRAS=test,bench
bench: bootstrap
	$(PY) bench/compare.py
