"""``python -m vexa_pp``: the ``vexa-pp`` command line."""

import sys

from .cli import main

sys.exit(main())
