"""Named search spaces, exact budgets and f's own exceptions on top of swarmtuner's PSO.

    from swarmtuner_search import minimize, Int, Float, Dec, Choice

    space = {"trees": Int(10, 300), "rate": Float(1e-4, 0.1, log=True),
             "price": Dec("0.99", "9.99", step="0.01"), "loss": Choice(["log_loss", "hinge"])}
    res = minimize(f, space, max_evals=600)  # f(trees=..., rate=..., price=..., loss=...)
    res.value, res.params, res.evals, res.history, res.stopped
"""

from ._search import Result, maximize, minimize
from ._space import Choice, Dec, Float, Int, Param, Space

__all__ = ["minimize", "maximize", "Int", "Float", "Dec", "Choice", "Param", "Space", "Result"]
