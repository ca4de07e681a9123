# make demo: the main job; make test: the whole test suite; make bench: the peer comparison.
# Each target first prepares the machine with scripts/bootstrap.sh.
PY := .venv/bin/python
ASAN_DIR := build/asan
SANITIZER_RUNTIME = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)

.PHONY: bootstrap demo test test-python test-sanitized bench

bootstrap:
	bash scripts/bootstrap.sh

demo: bootstrap
	$(PY) examples/demo.py

test: bootstrap
	$(MAKE) test-python
	$(MAKE) test-sanitized

test-python:
	$(PY) -m pytest -q tests

# The native tests and the Python suite again, against a build under AddressSanitizer and
# UndefinedBehaviorSanitizer; any report aborts the run.
test-sanitized:
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSLIVR_SANITIZE=ON -DSLIVR_NATIVE_TESTS=ON \
		-DPython_EXECUTABLE=$(abspath $(PY)) >/dev/null
	cmake --build $(ASAN_DIR)
	cd $(ASAN_DIR) && ctest --output-on-failure
	LD_PRELOAD="$(SANITIZER_RUNTIME)" ASAN_OPTIONS=detect_leaks=0 \
		SLIVR_EXPECT_PATH=$(abspath $(ASAN_DIR))/pkg PYTHONPATH=$(abspath $(ASAN_DIR))/pkg \
		$(PY) -m pytest -q -p no:cacheprovider tests

bench: export SLIVR_EXTRAS=test,bench
bench: bootstrap
	$(PY) bench/compare.py
