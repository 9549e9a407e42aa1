"""Shared helpers for the Python tests of swarmtuner."""

import os
import signal
import subprocess
import sys
import textwrap

import pytest
from hypothesis import HealthCheck, settings

import swarmtuner

SETTINGS = ("n_iters", "n_particles", "c1", "c2", "inertia", "max_v")
COUNT_SETTINGS = ("n_iters", "n_particles")
FLOAT_SETTINGS = ("c1", "c2", "inertia", "max_v")
KINDS = ("i8", "i16", "i32", "i64", "i128", "i", "f32", "f64", "c64", "c128", "d")
BOUND_PARAMETERS = tuple(f"{kind}_{side}" for kind in KINDS for side in ("min", "max"))
# The settings of PSO(), in the constructor's order.
DEFAULTS = {"n_iters": 1000, "n_particles": 30, "c1": 2.0, "c2": 2.0, "inertia": 0.5, "max_v": 0.2}

# Example counts of the property tests: "ci" (the default) keeps a test run short, "soak" runs
# long; chosen with SWARMTUNER_HYPOTHESIS_PROFILE.
_relaxed = dict(
    deadline=None, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large]
)
settings.register_profile("ci", max_examples=100, **_relaxed)
settings.register_profile("soak", max_examples=5000, **_relaxed)
settings.load_profile(os.environ.get("SWARMTUNER_HYPOTHESIS_PROFILE", "ci"))


def _default_sigint():
    # A shell starts a background command with SIGINT ignored, and an interpreter that starts
    # so never installs its KeyboardInterrupt handler: the child gets the default disposition
    # back, so that tests sending it SIGINT do not depend on how the test run was started.
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def run_python(code, env=None):
    """Runs code in a fresh interpreter (for process-wide effects and standard error)."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
        preexec_fn=_default_sigint,
    )


class Index:
    """An object that is an integer only through __index__."""

    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Floaty:
    """An object that is a float only through __float__."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        return self.value


class Complexy:
    """An object that is a complex number only through __complex__."""

    def __init__(self, value):
        self.value = value

    def __complex__(self):
        return self.value


@pytest.fixture
def pso():
    return swarmtuner.PSO()


@pytest.fixture
def small_pso():
    """A small, fast optimiser."""
    return swarmtuner.PSO(n_iters=3, n_particles=4)


def panic_message(excinfo):
    """The message of a PanicException caught by pytest.raises(BaseException)."""
    assert type(excinfo.value).__name__ == "PanicException"
    assert type(excinfo.value).__module__ == "pyo3_runtime"
    return str(excinfo.value)
