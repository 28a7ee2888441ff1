"""Post-processing of molecular-dynamics simulations of aqueous electrolytes.

The functions live in the compiled module ``vexa_pp._vexa_pp`` and are
re-exported here.
"""

from . import _vexa_pp
from ._vexa_pp import *  # noqa: F403

__all__ = list(_vexa_pp.__all__)
__version__ = "0.1.0"
