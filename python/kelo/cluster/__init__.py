"""Pipelines placed on a Dask cluster: each placement group runs as one
runtime instance in an actor on a worker, and links between groups carry
batches of items with their envelopes, under credit.

`start` (and `kelo.run(..., cluster=)`) takes a `distributed.Client`;
`connect` makes one for a scheduler address (``tls://`` with `Tls`
certificates) or a local cluster of worker processes on 127.0.0.1. Dask's
`distributed` is imported only then (`ClusterUnavailable` says what to
install when it is missing).
"""

from __future__ import annotations

import copyreg as _copyreg

from kelo.ext.execution import PyExecutionContract as _Contract
from kelo.ext.graph import PyPortId as _PortId

from ..runtime.contract import build as _build
from ..runtime.contract import fields_of as _fields_of
from .connect import ClusterUnavailable, Tls, connect
from .placement import MAIN, Placement, cut_findings, place
from .running import ClusterReport, ClusterRunning, RemoteError, start

# Element classes travel to the workers with their contracts.
_copyreg.pickle(_Contract, lambda c: (_build, (_fields_of(c),)))
_copyreg.pickle(_PortId, lambda p: (_PortId.from_str, (p.uuid(),)))

__all__ = ["MAIN", "ClusterReport", "ClusterRunning", "ClusterUnavailable", "Placement",
           "RemoteError", "Tls", "connect", "cut_findings", "place", "start"]
