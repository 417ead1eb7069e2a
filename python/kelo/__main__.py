"""`python -m kelo`: the `kelo` command (kelo.cli)."""

import sys

from .cli import main

sys.exit(main())
