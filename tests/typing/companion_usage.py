"""A user's script against swarmtuner_search, which mypy --strict and basedpyright must accept,
with a few uses they must refuse (marked as in stub_usage.py).

Checked by .ci/typing.sh, and run by tests/python/test_swarmtuner_search.py, so that it stays
a script that works as written.
"""

from __future__ import annotations

from decimal import Decimal
from typing import TYPE_CHECKING, Any

if TYPE_CHECKING:
    from typing_extensions import assert_type
else:

    def assert_type(value: object, _: object) -> object:  # what the checkers test, when run
        return value


from swarmtuner_search import Choice, Dec, Float, Int, Result, maximize, minimize


def f(trees: int, rate: float, price: Decimal, loss: str) -> float:
    penalty = 0.0 if loss == "log_loss" else 1.0
    price_gap = float(abs(price - Decimal("4.99")))
    return (trees - 120) ** 2 / 1e4 + (rate - 0.01) ** 2 + price_gap + penalty


space = {
    "trees": Int(10, 300),
    "rate": Float(1e-4, 0.1, log=True),
    "price": Dec("0.99", "9.99", step="0.01"),
    "loss": Choice(["log_loss", "hinge"]),
}
res = minimize(f, space, max_evals=600)
assert_type(res, Result[float])
assert_type(res.value, float)
assert_type(res.params, dict[str, Any])
assert_type(res.evals, int)
assert_type(res.history, list[float])
print(res.value, res.params, res.evals, len(res.history), res.stopped)
if res.stopped is not None:
    reason: str = res.stopped


def progress(evals: int, best: float, params: dict[str, Any]) -> bool:
    return evals < 100


res = minimize(f, space, max_evals=600, timeout=10.0, callback=progress, c1=0.7, n_particles=20)


def profit(price: Decimal, staff: int) -> Decimal:
    return (price - Decimal("8")) * 240 - 600 * staff


best_profit = maximize(profit, {"price": Dec("10", "60", step="0.01"), "staff": Int(1, 20)})
assert_type(best_profit.value, Decimal)


def ranked(xs: list[float]) -> tuple[int, float]:
    return (round(xs[0]), sum(xs))


assert_type(maximize(ranked, {"xs": Float([0.0, 0.0], [1.0, 1.0])}).value, tuple[int, float])

def wave(x: float) -> complex:
    return 1j * x  # complex numbers do not order


def refused() -> None:
    """Never run: uses that the checkers must refuse."""
    minimize(f, [("trees", Int(1, 2))])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    minimize(f, space, max_evals="600")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    minimize(wave, {"x": Float(0.0, 1.0)})  # type: ignore[type-var]  # pyright: ignore[reportArgumentType]
    Float(0.0, 1.0, log="yes")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
