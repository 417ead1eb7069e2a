"""Timing shared by the Python benchmarks."""

import timeit


def per_call(stmt: str, setup: str, namespace: dict, repeat: int) -> float:
    """Seconds per execution of `stmt`: the minimum over `repeat` runs of at
    least 1,000 executions each (more when one execution is very short)."""
    timer = timeit.Timer(stmt, setup=setup, globals=namespace)
    number, _ = timer.autorange()
    number = max(number, 1000)
    return min(timer.repeat(repeat=repeat, number=number)) / number
