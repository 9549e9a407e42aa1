# Two commands for a fresh Debian 12 machine with pyenv Pythons, run as root:
#   make demo   build and install swarmtuner, then run examples/quickstart.py
#   make test   every test: the C++ unit tests (GoogleTest via ctest), then the Python tests
# Each installs what it needs by itself (Debian packages, a virtual environment).
# PYTHON_VERSION=3.11 runs the Python side on another interpreter, in its own environment.

PYTHON_VERSION ?= 3.10
VENV ?= $(if $(filter 3.10,$(PYTHON_VERSION)),.venv,.venv$(subst .,,$(PYTHON_VERSION)))
BUILD_TYPE ?= Debug
JOBS ?= 2
# WERROR=ON turns compiler warnings into errors in every build below (CI sets it).
WERROR ?= OFF

APT_PACKAGES := libgmp-dev libgtest-dev libbenchmark-dev
PY := $(VENV)/bin/python
VENV_STAMP := $(VENV)/.swarmtuner-tools
EXAMPLE_STAMP := $(VENV)/.swarmtuner-example-deps
CPP_BUILD := build/cpp
ASAN_BUILD := build/asan
ASAN_MODULE_BUILD := build/asan-module
STRICT_BUILD := build/strict
CMAKE = $(VENV)/bin/cmake

.PHONY: demo test check cpp-test strict-test python-test asan-test asan-python-test install \
  system-deps clean example-deps wheels source-check cross-test debian-python-test macos-compile

demo: install
	@if [ -f examples/quickstart.py ]; then \
	  $(PY) examples/quickstart.py; \
	else \
	  $(PY) -c 'import swarmtuner; p = swarmtuner.PSO(); print(p, {k: getattr(p, k) for k in \
	    ("n_iters", "n_particles", "c1", "c2", "inertia", "max_v")})'; \
	fi

test: cpp-test python-test

# The quick edit-test loop: the formatting and the direction of includes, then every test.
check:
	.ci/format.sh
	.ci/layers.sh
	$(MAKE) test

# The C++ unit tests of the numeric core, built without Python.
cpp-test: system-deps $(VENV_STAMP)
	$(CMAKE) -S . -B $(CPP_BUILD) -DSWARMTUNER_BUILD_TESTS=ON -DSWARMTUNER_BUILD_MODULE=OFF \
	  -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DSWARMTUNER_WERROR=$(WERROR)
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
	  -DSWARMTUNER_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug -DSWARMTUNER_WERROR=$(WERROR)
	$(CMAKE) --build $(ASAN_BUILD) -j$(JOBS)
	$(VENV)/bin/ctest --test-dir $(ASAN_BUILD) --output-on-failure -j$(JOBS)

# The Python tests against a module built with both sanitizers, leak checking included.
asan-python-test: system-deps $(VENV_STAMP) $(EXAMPLE_STAMP)
	$(CMAKE) -S . -B $(ASAN_MODULE_BUILD) -DSWARMTUNER_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
	  -DSWARMTUNER_WERROR=$(WERROR) -DPython_EXECUTABLE=$(abspath $(PY))
	$(CMAKE) --build $(ASAN_MODULE_BUILD) -j$(JOBS)
	tests/sanitizers/run_python_tests.sh $(PY) $(abspath $(ASAN_MODULE_BUILD))

python-test: install $(EXAMPLE_STAMP)
	$(PY) -m pytest -q

# Builds the extension in place of any earlier build; the build directory is kept per
# interpreter, so rebuilds are incremental. (A plain `pip install .` builds in a temporary
# directory and writes nothing into the source tree.)
install: system-deps $(VENV_STAMP)
	$(PY) -m pip install --no-build-isolation --no-deps -q . \
	  --config-settings=build-dir=build/{wheel_tag} \
	  --config-settings=cmake.define.SWARMTUNER_WERROR=$(WERROR)

$(VENV_STAMP):
	@root=$$(pyenv root 2>/dev/null || echo "$$HOME/.pyenv"); \
	python=$$(ls -d "$$root"/versions/$(PYTHON_VERSION).*/bin/python$(PYTHON_VERSION) 2>/dev/null \
	    | sort -V | tail -n 1); \
	if [ -z "$$python" ]; then python=$$(command -v python$(PYTHON_VERSION)); fi; \
	if [ -z "$$python" ]; then echo "Python $(PYTHON_VERSION) not found" >&2; exit 1; fi; \
	echo "Creating $(VENV) with $$python"; \
	"$$python" -m venv $(VENV)
	.ci/retry.sh $(PY) -m pip install -q pytest hypothesis scikit-build-core cmake ninja
	touch $@

# What the examples use besides the module, so that their tests run them all: numpy bounds,
# a progress bar, a plot, restarts on a Dask cluster. A machine where Dask cannot be installed
# still runs the rest; the test of the Dask example then says why it is skipped.
example-deps: $(EXAMPLE_STAMP)

$(EXAMPLE_STAMP): $(VENV_STAMP)
	.ci/retry.sh $(PY) -m pip install -q numpy matplotlib tqdm
	.ci/retry.sh $(PY) -m pip install -q "dask[distributed]" || echo "Dask could not be installed" >&2
	touch $@

# Packages of the build machine's own architecture (others may be installed beside them, as
# those of other processors are for the cross-compiled tests).
system-deps:
	@missing=""; arch=$$(dpkg --print-architecture); \
	for package in $(APT_PACKAGES); do \
	  dpkg -s $$package:$$arch >/dev/null 2>&1 || missing="$$missing $$package"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

# Portable manylinux_2_28 wheels with GMP inside, for CPython 3.10 to 3.15 (or WHEEL_PYTHONS) on
# x86-64 and aarch64 (cross-compiled), each installed and tested in a fresh virtual environment
# of its own interpreter where there is one (aarch64 under qemu): dist/wheelhouse/. Needs root:
# 3.14, 3.15 and the aarch64 interpreters come from Debian roots (.ci/debian-root.sh).
WHEEL_PYTHONS ?= 3.10 3.11 3.12 3.13 3.14 3.15
wheels: system-deps
	.ci/wheels.sh $(WHEEL_PYTHONS)

# The Python tests on CPython 3.14 and 3.15 from a source build in the Debian unstable root.
debian-python-test:
	.ci/debian-python-test.sh

# Every source file compiled (not linked) for x86_64-macos and aarch64-macos with zig.
macos-compile:
	.ci/macos-compile.sh

# The source distribution and source builds: sdist contents, an install from a read-only copy
# of the sdist in a clean build environment, the configure-time messages, the version.
source-check: install
	.ci/source.sh

# The C++ unit tests cross-compiled for aarch64 and s390x (or CROSS_TRIPLETS) and run under
# qemu-user.
CROSS_TRIPLETS ?= aarch64-linux-gnu s390x-linux-gnu
cross-test:
	.ci/cross-test.sh $(CROSS_TRIPLETS)

clean:
	rm -rf build dist .venv .venv3* .pytest_cache .hypothesis
