"""The elements examples/runnable.toml runs: a counting source, an operator
that squares, and a sink that prints."""

import kelo
from kelo.ext.execution import PyConcurrency, PyExecutionContract


class Count(kelo.Element):
    """Counts from 0 to `config["count"]` - 1 on output `n`."""

    def generate(self):
        for i in range(int(self.config.get("count", "10"))):
            yield {"n": i}


class Square(kelo.Element):
    """`n` squared; runs one execution at a time."""

    contract = PyExecutionContract().with_concurrency(PyConcurrency.serialized())

    def process(self, inputs):
        return {"square": inputs["n"] ** 2}


class Print(kelo.Element):
    """Prints what arrives, one line each, and a total at the end."""

    def start(self):
        self.total = 0

    def process(self, inputs):
        self.total += inputs["value"]
        print(f"{self.name}: {inputs['value']}")

    def stop(self):
        print(f"{self.name}: total {self.total}")
