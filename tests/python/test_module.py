"""The module and the PSO class as Python sees them before any object exists."""

import copy
import inspect
import pickle
import re
import weakref

import pytest

import swarmtuner
from conftest import BOUND_PARAMETERS, DEFAULTS, SETTINGS, run_python

PSO = swarmtuner.PSO

CLASS_SIGNATURE = "(n_iters=1000, n_particles=30, c1=2.0, c2=2.0, inertia=0.5, max_v=0.2)"

# The documented body up to the example section, line by line.
DOC_HEAD = [
    "Particle Swarm Optimization (PSO) algorithm.",
    "粒子群优化算法。",
    "",
    "Represents the configuration parameters for the Particle Swarm Optimization algorithm.",
    "表示粒子群优化算法的配置参数。",
    "",
    "* `n_particles`:",
    "Number of particles in the swarm.",
    "群体中的粒子数量。",
    "* `n_iters`:",
    "Number of iterations for the optimization process.",
    "优化过程的迭代次数。",
    "* `c1`:",
    "Acceleration coefficient for a particle's adjustment towards its own best position. "
    "Typically in the range [0, 2].",
    "粒子朝向其自身最佳位置调整的加速系数。通常在范围 [0, 2] 内。",
    "* `c2`:",
    "Acceleration coefficient for a particle's adjustment towards the swarm's best position. "
    "Typically in the range [0, 2].",
    "粒子朝向群体最佳位置调整的加速系数。通常在范围 [0, 2] 内。",
    "* `max_v`:",
    "Maximum velocity ratio for particle movement.",
    "粒子移动的最大速度比率。",
    "* `inertia`: Coefficient representing the influence of the particle's current velocity "
    "on its next position update.",
    "表示粒子当前速度对其下一个位置更新的影响系数。",
    "",
]


class TestModule:
    def test_attributes(self):
        assert swarmtuner.__name__ == "swarmtuner"
        assert swarmtuner.__all__ == ["PSO"]
        assert isinstance(swarmtuner.PSO, type)
        assert "C++" in swarmtuner.__doc__ and swarmtuner.__doc__.count(".") == 1

    def test_second_initialisation_is_refused_and_the_first_class_keeps_working(self):
        result = run_python("""
            import sys
            import swarmtuner
            first = swarmtuner.PSO
            del sys.modules["swarmtuner"]
            try:
                import swarmtuner
            except ImportError as error:
                print(repr(str(error)))
            print(first(n_iters=7).n_iters)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [
            "'PyO3 modules may only be initialized once per interpreter process'",
            "7",
        ]


    @pytest.mark.parametrize("error", ["KeyboardInterrupt", "SystemExit", "MemoryError"])
    def test_a_failed_initialisation_leaves_the_module_importable(self, error):
        # The error comes while the module state is made (from the import of decimal, which
        # drops only ordinary exceptions); the next import makes the state and the class anew.
        result = run_python(f"""
            import sys

            class Refuse:
                def find_spec(self, name, path=None, target=None):
                    if name == "decimal":
                        raise {error}

            sys.meta_path.insert(0, Refuse())
            try:
                import swarmtuner
            except BaseException as error:
                print(type(error).__name__)
            del sys.meta_path[0]
            import swarmtuner
            pso = swarmtuner.PSO(n_iters=2, n_particles=3)
            value, point = pso.min(lambda d: 0, d_min=[1], d_max=[2])
            print(value, type(point["d"][0]).__name__)
            try:
                pso.min(lambda d: d[0], d_min=[2], d_max=[1])
            except BaseException as error:
                print(type(error).__module__)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [error, "0 Decimal", "pyo3_runtime"]


class TestClassIdentity:
    def test_names(self):
        assert PSO.__module__ == "builtins"
        assert PSO.__name__ == "PSO"
        assert PSO.__qualname__ == "PSO"
        assert repr(PSO) == "<class 'builtins.PSO'>"
        assert PSO.__mro__ == (PSO, object)

    def test_text_signature(self):
        assert PSO.__text_signature__ == CLASS_SIGNATURE
        parameters = inspect.signature(PSO).parameters
        assert list(parameters) == list(SETTINGS)
        assert {name: p.default for name, p in parameters.items()} == DEFAULTS

    def test_docstring_body(self):
        doc = PSO.__doc__
        assert "\n" not in doc.replace("\r\n", "")
        assert not doc.endswith("\r\n")
        lines = doc.split("\r\n")
        assert lines[: len(DOC_HEAD)] == DOC_HEAD

    def test_docstring_example_section(self):
        lines = PSO.__doc__.split("\r\n")[len(DOC_HEAD) :]
        assert lines[:3] == ["# Example", "", "```cpp"]
        assert lines[-1] == "```" and "```" not in lines[3:-1]
        code = "\n".join(lines[3:-1])
        assert code.startswith("#include")
        assignments = re.findall(r"\.(\w+) = ([0-9.]+)", code)
        assert assignments == [
            ("n_particles", "100"),
            ("n_iters", "100"),
            ("c1", "1.0"),
            ("c2", "1.0"),
            ("max_v", "0.5"),
            ("inertia", "0.5"),
        ]

    @pytest.mark.parametrize("name", ["min", "max"])
    def test_method_text_signatures(self, name):
        method = getattr(PSO, name)
        assert method.__doc__ is None
        expected = "($self, f, " + ", ".join(f"{p}=..." for p in BOUND_PARAMETERS) + ")"
        assert method.__text_signature__ == expected
        assert list(inspect.signature(method).parameters) == ["self", "f", *BOUND_PARAMETERS]

    def test_setting_descriptors(self):
        for name in SETTINGS:
            descriptor = PSO.__dict__[name]
            assert type(descriptor).__name__ == "getset_descriptor"
            assert descriptor.__doc__ == ""

    def test_no_other_public_attributes(self):
        public = {name for name in vars(PSO) if not name.startswith("__")}
        assert public == {*SETTINGS, "min", "max"}


class TestClassFlags:
    def test_cannot_be_subclassed(self):
        with pytest.raises(TypeError, match="not an acceptable base type"):

            class Derived(PSO):
                pass

    def test_no_instance_dict(self, pso):
        with pytest.raises(AttributeError):
            pso.speed = 1
        with pytest.raises(AttributeError):
            pso.__dict__

    def test_no_weak_references(self, pso):
        with pytest.raises(TypeError):
            weakref.ref(pso)

    @pytest.mark.parametrize(
        "save",
        [copy.copy, copy.deepcopy]
        + [lambda p, n=n: pickle.dumps(p, protocol=n) for n in range(pickle.HIGHEST_PROTOCOL + 1)],
    )
    def test_pickle_and_copy_refused(self, pso, save):
        with pytest.raises(TypeError):
            save(pso)

    def test_identity_semantics(self, pso):
        assert pso == pso and pso != PSO()
        assert hash(pso) == hash(pso)
        assert repr(pso).startswith("<builtins.PSO object at 0x")
