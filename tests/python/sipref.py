"""Pure-Python SipHash-1-3 used to check the hashes of exposed values: `siphash13`
is the raw 64-bit hash, `py_hash` the value Python's `hash()` should return."""

MASK = 0xFFFFFFFFFFFFFFFF


def _rotl(x, b):
    return ((x << b) | (x >> (64 - b))) & MASK


def _sipround(v0, v1, v2, v3):
    v0 = (v0 + v1) & MASK
    v1 = _rotl(v1, 13) ^ v0
    v0 = _rotl(v0, 32)
    v2 = (v2 + v3) & MASK
    v3 = _rotl(v3, 16) ^ v2
    v0 = (v0 + v3) & MASK
    v3 = _rotl(v3, 21) ^ v0
    v2 = (v2 + v1) & MASK
    v1 = _rotl(v1, 17) ^ v2
    v2 = _rotl(v2, 32)
    return v0, v1, v2, v3


def siphash13(data: bytes, k0: int = 0, k1: int = 0) -> int:
    """SipHash-1-3 of `data` under the key (k0, k1), unsigned 64-bit."""
    v = [k0 ^ 0x736F6D6570736575, k1 ^ 0x646F72616E646F6D, k0 ^ 0x6C7967656E657261, k1 ^ 0x7465646279746573]
    n = len(data)
    tail = n - n % 8
    blocks = [int.from_bytes(data[i:i + 8], "little") for i in range(0, tail, 8)]
    blocks.append(((n & 0xFF) << 56) | int.from_bytes(data[tail:], "little"))
    for m in blocks:
        v[3] ^= m
        v = list(_sipround(*v))
        v[0] ^= m
    v[2] ^= 0xFF
    for _ in range(3):
        v = list(_sipround(*v))
    return v[0] ^ v[1] ^ v[2] ^ v[3]


def py_hash(data: bytes) -> int:
    """Expected Python hash of a value whose hash stream is `data`."""
    h = siphash13(data)
    if h >= 1 << 63:
        h -= 1 << 64
    return -2 if h == -1 else h
