# Stubs for the compiled helper module kelo._native (python/kelo/_native.abi3.so).

__all__: list[str]
