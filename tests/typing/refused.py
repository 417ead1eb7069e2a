# Calls the stubs must refuse: scripts/test.sh expects mypy to report each
# line marked "refused" and nothing else.
import kelo
from kelo.ext.data import PyMetadata

kelo.add_objects(PyMetadata(), [[1, 2, 3, 4]])  # refused: boxes are a buffer, not lists
