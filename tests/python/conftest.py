import os
import sys

# Let test modules import the helpers that live beside them (sipref).
_HERE = os.path.dirname(os.path.abspath(__file__))
if _HERE not in sys.path:
    sys.path.insert(0, _HERE)
