"""Which imports count as the module's one initialisation, in sub-interpreters and after failures.

Sub-interpreters of two kinds: "legacy" ones share the main interpreter's lock and take modules
with a single-phase initialisation such as this one; "isolated" ones (3.12 on) refuse them. How
CPython runs the initialisation for a sub-interpreter differs by version (3.12 runs it in the
importer, 3.13 on first in the main interpreter), and the outcome must not. Each test runs in a
fresh interpreter, since the initialisation belongs to the process.
"""

import os
import sys

import pytest

from conftest import run_python

ISOLATED = "isolated"
LEGACY = "legacy"
CONFIGS = [LEGACY] + ([ISOLATED] if sys.version_info >= (3, 12) else [])

REFUSED_BY_CPYTHON = "ImportError: module swarmtuner does not support loading in subinterpreters"
SECOND_INITIALISATION = "ImportError: PyO3 modules may only be initialized once per interpreter process"

# in_sub_interpreter(config, code) runs code in a new sub-interpreter of that kind and returns
# "ok", or the last line of the report of the exception that ended it. search() checks that the
# module searches where it is imported.
HELPERS = """
import sys

def in_sub_interpreter(config, code):
    if sys.version_info >= (3, 13):
        import _interpreters
        interpreter = _interpreters.create(config)
        failure = _interpreters.run_string(interpreter, code)
        return "ok" if failure is None else failure.formatted.splitlines()[-1]
    import _xxsubinterpreters as interpreters
    if sys.version_info >= (3, 12):
        interpreter = interpreters.create(isolated=config == "isolated")
    else:
        interpreter = interpreters.create()
    try:
        interpreters.run_string(interpreter, code)
    except interpreters.RunFailedError as error:
        return str(error).replace("<class 'ImportError'>", "ImportError")
    return "ok"

SEARCH = '''
import swarmtuner
pso = swarmtuner.PSO(n_iters=2, n_particles=3)
assert pso.min(lambda f64, d: f64[0], f64_min=[0.0], f64_max=[1.0], d_min=[0], d_max=[1])[0] >= 0
'''

def in_main(code):
    try:
        exec(code, {})
    except BaseException as error:
        return f"{type(error).__name__}: {error}"
    return "ok"
"""


def outcomes(code):
    # CPython's decimal module leaks its context when a sub-interpreter of 3.10 makes a Decimal,
    # so under the sanitizers the leak check is off here; every other check stays on.
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
    done = run_python(HELPERS + code, env=env)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout.splitlines()


@pytest.mark.parametrize("attempts", [1, 2])
@pytest.mark.skipif(sys.version_info < (3, 12), reason="no isolated sub-interpreters before 3.12")
def test_a_refused_import_leaves_the_main_interpreter_free(attempts):
    lines = outcomes(f"""
for _ in range({attempts}):
    print(in_sub_interpreter("isolated", SEARCH))
print(in_main(SEARCH))
print(in_sub_interpreter("isolated", SEARCH))
""")
    assert lines == [REFUSED_BY_CPYTHON] * attempts + ["ok", REFUSED_BY_CPYTHON]


def test_a_legacy_sub_interpreter_that_imports_first_initialises_the_module():
    lines = outcomes("""
print(in_sub_interpreter("legacy", SEARCH))
print(in_main(SEARCH))
print(in_sub_interpreter("legacy", SEARCH))
""")
    assert lines == ["ok", SECOND_INITIALISATION, SECOND_INITIALISATION]


@pytest.mark.parametrize("config", CONFIGS)
def test_after_the_main_interpreter_no_sub_interpreter_initialises_the_module(config):
    lines = outcomes(f"""
print(in_main(SEARCH))
print(in_sub_interpreter({config!r}, SEARCH))
print(in_main(SEARCH))
""")
    refusal = REFUSED_BY_CPYTHON if config == ISOLATED else SECOND_INITIALISATION
    assert lines == ["ok", refusal, "ok"]
