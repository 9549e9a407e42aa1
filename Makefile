# Two commands for a fresh Debian 12 machine with pyenv Pythons, run as root:
#   make demo   build and install swarmtuner, then run examples/quickstart.py
#   make test   every test: the C++ unit tests (GoogleTest via ctest), then the Python tests
# Each installs what it needs by itself (Debian packages, a virtual environment).
# PYTHON_VERSION=3.11 runs the Python side on another interpreter, in its own environment.

PYTHON_VERSION ?= 3.10
VENV ?= $(if $(filter 3.10,$(PYTHON_VERSION)),.venv,.venv$(subst .,,$(PYTHON_VERSION)))
BUILD_TYPE ?= Debug
JOBS ?= 2

APT_PACKAGES := libgmp-dev libgtest-dev libbenchmark-dev
PY := $(VENV)/bin/python
VENV_STAMP := $(VENV)/.swarmtuner-tools
CPP_BUILD := build/cpp
ASAN_BUILD := build/asan
ASAN_MODULE_BUILD := build/asan-module
STRICT_BUILD := build/strict
CMAKE = $(VENV)/bin/cmake

.PHONY: demo test cpp-test strict-test python-test asan-test asan-python-test install system-deps \
  clean

demo: install
	@if [ -f examples/quickstart.py ]; then \
	  $(PY) examples/quickstart.py; \
	else \
	  $(PY) -c 'import swarmtuner; p = swarmtuner.PSO(); print(p, {k: getattr(p, k) for k in \
	    ("n_iters", "n_particles", "c1", "c2", "inertia", "max_v")})'; \
	fi

test: cpp-test python-test

# The C++ unit tests of the numeric core, built without Python.
cpp-test: system-deps $(VENV_STAMP)
	$(CMAKE) -S . -B $(CPP_BUILD) -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF \
	  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	$(CMAKE) --build $(CPP_BUILD) -j$(JOBS)
	$(VENV)/bin/ctest --test-dir $(CPP_BUILD) --output-on-failure -j$(JOBS)

# The same tests built as ISO C++20 without GNU extensions (-Wpedantic, warnings as errors), which
# shows that nothing relies on the library treating the 128-bit integers as integers.
strict-test: system-deps $(VENV_STAMP)
	$(CMAKE) -S . -B $(STRICT_BUILD) -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF \
	  -DSWARMTUNER_STRICT_ISO=ON -DSWARMTUNER_WERROR=ON -DCMAKE_BUILD_TYPE=Debug
	$(CMAKE) --build $(STRICT_BUILD) -j$(JOBS)
	$(VENV)/bin/ctest --test-dir $(STRICT_BUILD) --output-on-failure -j$(JOBS)

# The same tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: system-deps $(VENV_STAMP)
	$(CMAKE) -S . -B $(ASAN_BUILD) -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF \
	  -DSWARMTUNER_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
	$(CMAKE) --build $(ASAN_BUILD) -j$(JOBS)
	$(VENV)/bin/ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The Python tests against a module built with both sanitizers, leak checking included. The
# interpreter is not built with them, so the runtime is preloaded (with libstdc++, whose
# exceptions it must intercept) and Python's allocator is bypassed.
asan-python-test: system-deps $(VENV_STAMP)
	$(CMAKE) -S . -B $(ASAN_MODULE_BUILD) -DSWARMTUNER_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DPython_EXECUTABLE=$(abspath $(PY))
	$(CMAKE) --build $(ASAN_MODULE_BUILD) -j$(JOBS)
	LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libstdc++.so.6)" \
	  PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=1 PYTHONPATH=$(abspath $(ASAN_MODULE_BUILD)) \
	  SWARMTUNER_UNDER_ASAN=1 \
	  $(PY) -m pytest -q -p no:cacheprovider

python-test: install
	$(PY) -m pytest -q

# Builds the extension in place of any earlier build; the build directory is kept per
# interpreter, so rebuilds are incremental.
install: system-deps $(VENV_STAMP)
	$(PY) -m pip install --no-build-isolation --no-deps -q .

$(VENV_STAMP):
	@root=$$(pyenv root 2>/dev/null || echo "$$HOME/.pyenv"); \
	python=$$(ls -d "$$root"/versions/$(PYTHON_VERSION).*/bin/python$(PYTHON_VERSION) 2>/dev/null \
	    | sort -V | tail -n 1); \
	if [ -z "$$python" ]; then python=$$(command -v python$(PYTHON_VERSION)); fi; \
	if [ -z "$$python" ]; then echo "Python $(PYTHON_VERSION) not found" >&2; exit 1; fi; \
	echo "Creating $(VENV) with $$python"; \
	"$$python" -m venv $(VENV)
	$(PY) -m pip install -q pytest hypothesis scikit-build-core cmake ninja
	touch $@

system-deps:
	@missing=""; \
	for package in $(APT_PACKAGES); do \
	  dpkg -s $$package >/dev/null 2>&1 || missing="$$missing $$package"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

clean:
	rm -rf build .venv .venv3* .pytest_cache .hypothesis
