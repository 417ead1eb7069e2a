"""Reaching a cluster: a scheduler at an address (``tls://`` with
certificates for one beyond this machine) or a local cluster of worker
processes that kelo starts and stops, listening on 127.0.0.1 only.

Dask's `distributed` is imported here, on first need: without it,
`require` raises `ClusterUnavailable` saying what to install.
"""

from __future__ import annotations

from collections.abc import Iterator
from contextlib import contextmanager
from dataclasses import dataclass
from types import ModuleType
from typing import Any

__all__ = ["ClusterUnavailable", "Tls", "connect", "local_cluster", "require"]

INSTALL = "apt-get install python3-distributed"


class ClusterUnavailable(RuntimeError):
    """No cluster can be reached: `distributed` is missing, or the scheduler
    does not answer."""


def require() -> ModuleType:
    """Dask's `distributed`, or `ClusterUnavailable` naming the package."""
    try:
        import distributed
    except ImportError:
        raise ClusterUnavailable("running on a cluster needs Dask's distributed, which is not "
                                 f"installed (Debian: {INSTALL})") from None
    return distributed


@dataclass(frozen=True)
class Tls:
    """Certificates for a ``tls://`` scheduler: the authority that signed
    the cluster's certificates, and this client's certificate and key."""

    ca_file: str
    cert: str
    key: str | None = None

    def security(self) -> Any:
        from distributed.security import Security
        return Security(tls_ca_file=self.ca_file,  # type: ignore[no-untyped-call]
                        tls_client_cert=self.cert, tls_client_key=self.key,
                        require_encryption=True)


@contextmanager
def local_cluster(workers: int, threads: int = 1) -> Iterator[Any]:
    """A client of a new cluster of `workers` processes on 127.0.0.1 (no
    dashboard), closed at the end."""
    distributed = require()
    cluster = distributed.LocalCluster(n_workers=workers, threads_per_worker=threads,
                                       processes=True, host="127.0.0.1", dashboard_address=None)
    try:
        with distributed.Client(cluster) as client:
            yield client
    finally:
        cluster.close()


@contextmanager
def connect(address: str | None = None, workers: int = 0, tls: Tls | None = None,
            timeout: float = 30) -> Iterator[Any]:
    """A client of the scheduler at `address`, or of a local cluster of
    `workers` processes."""
    distributed = require()
    if address is None:
        if workers < 1:
            raise ClusterUnavailable(f"a local cluster needs at least 1 worker, not {workers}")
        with local_cluster(workers) as client:
            yield client
        return
    if address.startswith("tls://") and tls is None:
        security = None         # Dask's own configuration (distributed.comm.tls) applies
    else:
        security = tls.security() if tls is not None else None
    try:
        client = distributed.Client(address, security=security, timeout=timeout)
    except (OSError, TimeoutError, ValueError) as exc:
        raise ClusterUnavailable(f"cannot reach the scheduler at {address}: "
                                 f"{type(exc).__name__}: {exc}") from None
    with client:
        yield client
