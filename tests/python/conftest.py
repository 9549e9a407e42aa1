"""Shared helpers for the Python tests."""
import pytest

import swarmtuner


@pytest.fixture
def pso():
    """A small, fast optimiser."""
    return swarmtuner.PSO(n_iters=3, n_particles=4)


def panic_message(excinfo):
    """The message of a PanicException caught by pytest.raises(BaseException)."""
    assert type(excinfo.value).__name__ == "PanicException"
    assert type(excinfo.value).__module__ == "pyo3_runtime"
    return str(excinfo.value)
