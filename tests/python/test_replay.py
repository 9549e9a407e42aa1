"""The replay used as the reference for the search dynamics reproduces the worked examples."""
from replay import OPS, replay


def test_float_worked_example():
    # Bounds 0 and 10, c1 = c2 = 2, inertia 0.5, max_v 0.2: velocity limits are -2 and 2. The
    # particle at 1.0 is pulled by 6.0 towards the best at 4.0, jumps to 7.0, and only its
    # carried velocity is cut to 2.0, halved to 1.0 after the sweep.
    def f(f64):
        return (f64[0] - 4.0) ** 2

    evaluated, _ = replay(f, [{"f64": [4.0]}, {"f64": [1.0]}], {"f64": [0.0]}, {"f64": [10.0]},
                          n_iters=2, c1=2.0, c2=2.0, inertia=0.5, max_v=0.2)
    assert [p["f64"][0] for p in evaluated[:2]] == [4.0, 7.0]
    # Sweep 2: velocity 1.0 + pulls (4 - 7) * 2 + (1 - 7) * 2 = -17 carries it below 0.
    assert evaluated[3] == {"f64": [0.0]}


def test_integer_worked_example():
    # i32 bounds 0 and 100, c1 = 0.5, c2 = 2: a pull of 5 * 0.5 = 2.5 truncates to 2.
    def f(i32):
        return (i32[0] - 15) ** 2

    evaluated, _ = replay(f, [{"i32": [15]}, {"i32": [10]}], {"i32": [0]}, {"i32": [100]},
                          n_iters=2, c1=0.5, c2=2.0, inertia=0.5, max_v=0.2)
    # Sweep 1: velocity 2, position 12; after it the velocity 2 * 0.5 = 1. Sweep 2: the pull
    # (15 - 12) * 0.5 = 1.5 truncates to 1, so velocity 2 and position 14.
    assert [p["i32"][0] for p in evaluated] == [15, 12, 15, 14]


def test_integer_arithmetic_saturates():
    assert OPS["i8"].add(100, 100) == 127
    assert OPS["i8"].sub(100, -100) == 127
    assert OPS["i8"].neg(-128) == 127
    assert OPS["i8"].scale(100, 2.0) == 127 and OPS["i8"].scale(-100, 2.0) == -128
    assert OPS["i64"].scale(2**53 + 1, 1.0) == 2**53
    assert OPS["i8"].scale(5, float("nan")) == 0


def test_complex_worked_example():
    # The float example in both parts at once, the imaginary part mirrored: bounds 0 and
    # 10 + 10j, velocity limits -2 - 2j and 2 + 2j. The particle at 1 + 7j is pulled by 6 - 6j
    # towards the best at 4 + 4j, jumps to 7 + 1j, and its carried velocity is cut to 2 - 2j.
    def f(c128):
        return abs(c128[0] - (4 + 4j))

    evaluated, _ = replay(f, [{"c128": [4 + 4j]}, {"c128": [1 + 7j]}], {"c128": [0j]},
                          {"c128": [10 + 10j]}, n_iters=2, c1=2.0, c2=2.0, inertia=0.5,
                          max_v=0.2)
    assert [p["c128"][0] for p in evaluated[:2]] == [4 + 4j, 7 + 1j]
    # Sweep 2: velocity 1 - 1j plus pulls -18 + 18j: the real part falls below 0 and the
    # imaginary part rises above 10, each onto its own bound.
    assert evaluated[3] == {"c128": [10j]}
