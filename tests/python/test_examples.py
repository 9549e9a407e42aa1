"""Every example runs in quick mode and prints what README says it prints, so none goes stale."""

import math
import os
import re
import subprocess
import sys
from decimal import ROUND_HALF_EVEN, Decimal
from pathlib import Path

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
NUMBER = r"-?\d+(?:\.\d+)?(?:e[-+]\d+)?"


def run_example(name):
    """Runs examples/<name>.py in quick mode; returns its standard output as lines."""
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / f"{name}.py")],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "SWARMTUNER_EXAMPLES_QUICK": "1"},
    )
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def fields(lines, patterns):
    """Matches line k against patterns[k] (whole line) and returns the groups of all lines."""
    assert len(lines) == len(patterns), lines
    groups = []
    for line, pattern in zip(lines, patterns):
        match = re.fullmatch(pattern, line)
        assert match, (pattern, line)
        groups.extend(match.groups())
    return groups


def test_every_example_is_tested():
    tested = {name for name in globals() if name.startswith("test_")}
    for example in EXAMPLES.glob("*.py"):
        assert f"test_{example.stem}" in tested, example.name


def test_quickstart():
    cost, workers, rate, momentum, price = fields(
        run_example("quickstart"),
        [
            rf"best cost +({NUMBER})",
            r"workers +(\d+)",
            rf"learning rate +({NUMBER})",
            rf"momentum +({NUMBER})",
            r"price +(\d+\.\d\d)",
        ],
    )
    assert float(cost) >= 0
    assert 1 <= int(workers) <= 32
    assert 1e-4 <= float(rate) <= 0.5
    assert 0 <= float(momentum) <= 1
    assert 0 <= Decimal(price) <= 50


def test_hyperparameters():
    loss, layers, units, batch, rate, dropout, trainings, particles, iters = fields(
        run_example("hyperparameters"),
        [
            rf"validation loss +({NUMBER})",
            r"layers +(\d+)",
            r"units +(\d+)",
            r"batch size +(\d+)",
            rf"learning rate +({NUMBER})",
            rf"dropout +({NUMBER})",
            r"trainings +(\d+) = (\d+) \* \((\d+) \+ 1\)",
        ],
    )
    # The simulated loss never goes below its floor.
    assert float(loss) >= 0.0500
    assert 1 <= int(layers) <= 12
    assert 16 <= int(units) <= 1024
    assert int(batch) in {2**k for k in range(3, 11)}
    assert 1e-5 <= float(rate) <= 0.1
    assert 0 <= float(dropout) <= 0.6
    # One evaluation per particle to start, then one per particle per sweep.
    assert int(trainings) == int(particles) * (int(iters) + 1)


def test_debt_payments():
    a, b, c, total, interest = map(
        Decimal,
        fields(
            run_example("debt_payments"),
            [
                r"payment A +(\d+\.\d\d)",
                r"payment B +(\d+\.\d\d)",
                r"payment C +(-?\d+\.\d\d)",
                r"total +(\d+\.\d\d)",
                r"interest +(\d+\.\d\d)",
            ],
        ),
    )
    assert a + b + c == total == Decimal("1000.00")
    assert Decimal("100.00") <= a <= Decimal("800.00")
    assert Decimal("50.00") <= b <= Decimal("750.00")

    # The value returned belongs to the point returned: recompute it from the payments.
    def owed(balance, rate, paid):
        return ((balance - paid) * rate).quantize(Decimal("0.01"), rounding=ROUND_HALF_EVEN)

    expected = (
        owed(Decimal(4000), Decimal("0.015"), a)
        + owed(Decimal(2500), Decimal("0.009"), b)
        + owed(Decimal(8000), Decimal("0.004"), c)
        + max(Decimal(0), Decimal(150) - c) * 1000
    )
    assert interest == expected
    # No split does better than paying the dearest debt first.
    assert interest >= Decimal("101.45")


def test_maximise():
    staff, price, profit, ref_staff, ref_price, ref_profit = fields(
        run_example("maximise"),
        [
            rf"swarm +staff +(\d+) +price +({NUMBER}) +profit +({NUMBER})",
            rf"reference +staff +(\d+) +price +({NUMBER}) +profit +({NUMBER})",
        ],
    )
    assert 1 <= int(staff) <= 20
    assert 10 <= float(price) <= 60
    # The true maximum is 4 staff at the price where demand meets their capacity.
    best_price = 20 * math.log(1000 / 240)
    true_max = (best_price - 8) * 240 - 600
    assert float(profit) <= true_max + 0.01
    assert float(ref_profit) <= true_max + 0.01
    assert int(ref_staff) == 4
    assert abs(float(ref_price) - best_price) <= 0.015


def test_lexicographic():
    servers, unmet, cost, failure = fields(
        run_example("lexicographic"),
        [
            r"servers per region +\[(\d+, \d+, \d+)\]",
            r"unmet demand +(\d+)",
            r"cost +(\d+)",
            r"max with tuples +(.*)",
        ],
    )
    counts = [int(n) for n in servers.split(", ")]
    assert all(0 <= n <= 20 for n in counts)
    assert int(unmet) == sum(max(0, need - 4 * n) for need, n in zip((17, 9, 30), counts))
    assert int(cost) == sum(price * n for price, n in zip((5, 7, 3), counts))
    assert failure == "PanicException: There is no __neg__ method"


def test_parallel_restarts():
    lines = run_example("parallel_restarts")
    values = [
        float(v)
        for v in fields(lines[:2], [rf"restart {k}  best ({NUMBER})" for k in range(2)])
    ]
    best, index, _, point = fields(
        lines[2:],
        [rf"best of 2 restarts  ({NUMBER}) \(restart (\d), (\d) processes\)", r"at  (.*)"],
    )
    assert float(best) == min(values)
    assert values[int(index)] == min(values)
    coordinates = [float(x) for x in point.split(", ")]
    assert len(coordinates) == 6
    assert all(-5.12 <= x <= 5.12 for x in coordinates)


def test_choosing_settings():
    lines = run_example("choosing_settings")
    fields(
        lines,
        [
            r"median best value of 2 runs, 4 dimensions",
            r" +sphere +rosenbrock +rastrigin",
            rf"defaults   c1=2\.0 c2=2\.0 inertia=0\.5( +{NUMBER}){{3}}",
            rf"suggested  c1=0\.7 c2=1\.0 inertia=0\.5( +{NUMBER}){{3}}",
        ],
    )


def test_quick_flag_works_without_the_environment_variable():
    env = {k: v for k, v in os.environ.items() if k != "SWARMTUNER_EXAMPLES_QUICK"}
    result = subprocess.run(
        [sys.executable, str(EXAMPLES / "hyperparameters.py"), "--quick"],
        capture_output=True,
        text=True,
        timeout=120,
        env=env,
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[-1] == "trainings        110 = 10 * (10 + 1)"
