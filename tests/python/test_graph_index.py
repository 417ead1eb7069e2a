"""A graph indexes its ids as they are added: the report must not depend on
the order elements and edges arrive in, nor on validating along the way."""

import random

from kelo.ext.graph import PyGraph
from test_validation import entries, model_validate, random_graph


def test_interleaved_additions_match_the_reference_model():
    rng = random.Random(20261207)
    for _ in range(1500):
        elements, edges, objects, edge_objects = random_graph(rng)
        # Edges may come before the ports they name; each list keeps its order.
        order = ["e"] * len(objects) + ["x"] * len(edge_objects)
        rng.shuffle(order)
        g, its = PyGraph(), {"e": iter(objects), "x": iter(edge_objects)}
        for which in order:
            (g.add_element if which == "e" else g.add_edge)(next(its[which]))
            if rng.random() < 0.2:
                g.validate()  # a run part way leaves nothing behind
        r = g.validate()
        assert (entries(r), r.warnings) == model_validate(elements, edges), (elements, edges)
