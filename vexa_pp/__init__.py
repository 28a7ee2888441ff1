"""Post-processing of molecular-dynamics simulations of aqueous electrolytes.

The functions live in the compiled module ``vexa_pp._vexa_pp`` and are
re-exported here; ``vexa-pp`` (or ``python -m vexa_pp``) is the command line
built on them.
"""

try:
    from ._vexa_pp import (
        dewane_eval as dewane_eval,
        diff_calculator as diff_calculator,
        diffusion_adjustment as diffusion_adjustment,
        koh_gilliam_eval as koh_gilliam_eval,
        laliberte_density as laliberte_density,
        laliberte_viscosity as laliberte_viscosity,
        local_maximum_finder as local_maximum_finder,
        mass_fraction_to_molality as mass_fraction_to_molality,
        molality_to_mass_fraction as molality_to_mass_fraction,
        molality_to_mole_fraction as molality_to_mole_fraction,
        molarity_to_molality as molarity_to_molality,
        mole_fraction_to_molality as mole_fraction_to_molality,
        parse_bond_angle as parse_bond_angle,
        parse_thermoprop as parse_thermoprop,
        parse_vexa_file as parse_vexa_file,
        parse_volume_density as parse_volume_density,
        read_group_count as read_group_count,
        repacking_results as repacking_results,
        tau_calculator as tau_calculator,
    )
except ModuleNotFoundError as error:
    if error.name != f"{__name__}._vexa_pp":
        raise
    raise ImportError(
        f"the compiled module {__name__}._vexa_pp is missing from {__path__[0]}: install the "
        "package (pip install .) and run Python outside its source folder") from error

# In the compiled module's registration order.
__all__ = [
    "parse_vexa_file",
    "parse_thermoprop",
    "parse_volume_density",
    "parse_bond_angle",
    "read_group_count",
    "local_maximum_finder",
    "repacking_results",
    "diff_calculator",
    "laliberte_density",
    "laliberte_viscosity",
    "mass_fraction_to_molality",
    "molality_to_mass_fraction",
    "mole_fraction_to_molality",
    "molality_to_mole_fraction",
    "dewane_eval",
    "koh_gilliam_eval",
    "molarity_to_molality",
    "tau_calculator",
    "diffusion_adjustment",
]
__version__ = "0.1.0"


def __getattr__(name: str) -> object:
    # The array and dump readers bring numpy in: only on first use.
    if name == "read_table":
        from .tables import read_table

        return read_table
    if name == "read_dump":
        from .dumps import read_dump

        return read_dump
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
