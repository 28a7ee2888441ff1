import importlib.util
import inspect
import types

import pytest

# The complete function table, in registration order: name -> parameter names.
TABLE = {
    "parse_vexa_file": ("path",),
    "parse_thermoprop": ("path",),
    "parse_volume_density": ("path",),
    "parse_bond_angle": ("path",),
    "read_group_count": ("log_path", "group_name"),
    "local_maximum_finder": ("data", "search_start", "neighbor_count"),
    "repacking_results": ("d_array",),
    "diff_calculator": ("time", "msd_in", "margin", "min_window", "max_window",
                        "max_error", "min_displacement"),
    "laliberte_density": ("temperature", "molality", "molecular_weight",
                          "c0", "c1", "c2", "c3", "c4"),
    "laliberte_viscosity": ("temperature", "molality", "molecular_weight",
                            "v1", "v2", "v3", "v4", "v5", "v6"),
    "mass_fraction_to_molality": ("mass_fraction", "molecular_weight"),
    "molality_to_mass_fraction": ("molality", "molecular_weight"),
    "mole_fraction_to_molality": ("mole_fraction", "molecular_weight"),
    "molality_to_mole_fraction": ("molality", "molecular_weight"),
    "dewane_eval": ("molarity", "limits", "coeffs"),
    "koh_gilliam_eval": ("temperature", "molality", "molecular_weight",
                         "c0", "c1", "c2", "c3", "c4"),
    "molarity_to_molality": ("molarity", "temperature", "molecular_weight",
                             "c0", "c1", "c2", "c3", "c4", "tolerance",
                             "maximum_iterations"),
    "tau_calculator": ("experimental_conductivity", "md_conductivity", "temperature",
                       "box_length", "particle_count", "hop_distance"),
    "diffusion_adjustment": ("time_between_hops", "hop_distance"),
}

REQUIRED = ["parse_vexa_file", "local_maximum_finder", "repacking_results",
            "tau_calculator", "diffusion_adjustment"]

DOCS = {
    "parse_vexa_file":
        "Parse VEXA MSD output files (viscosity.dat, diffself.dat, diffonsag.dat,\n"
        "thermconductivity.dat, rdf.dat).\n"
        "\n"
        "Locates the header by finding the last line whose `lstrip()` starts with\n"
        "`\"#Time\"` (same heuristic as the original Python `read()` function).\n"
        "For rdf.dat the first line already IS the header so the default row=0\n"
        "is kept when no `\"#Time\"` line is present.\n"
        "\n"
        "Returns a Python dict mapping column name \u2192 list[float].",
    "repacking_results":
        "Compute nanmean, nanstd (population), and the count of finite values.",
    "local_maximum_finder":
        "Find the index of the first local maximum in `data` starting from\n"
        "`search_start`, where \"local\" means strictly greater than the `neighbor_count`\n"
        "neighbours on each side.  Returns `neighbor_count + search_start` if no maximum\n"
        "is found (same fallback as the original Python implementation).",
    "laliberte_density":
        "Density (kg/m\u00b3) and molarity (mol/L) of a salt solution via Laliberte (2007).\n"
        "\n"
        "Arrays `temperature` and `molality` must have the same length.\n"
        "`c0`\u2013`c4` are the Laliberte density fit parameters.",
    "laliberte_viscosity":
        "Dynamic viscosity (Pa\u00b7s) of a salt solution via Laliberte (2007).\n"
        "\n"
        "`v1`\u2013`v6` are the Laliberte viscosity fit parameters.",
    "dewane_eval":
        "Evaluate the Dewane segmented molar-conductivity polynomial and return\n"
        "electrical conductivity in S/m.\n"
        "\n"
        "# Arguments\n"
        "* `molarity` \u2013 molarity values in mol/L (same length as the desired output)\n"
        "* `limits` \u2013 N concentration limits defining (N-1) contiguous segments (N >= 2)\n"
        "* `coeffs` \u2013 (N-1)*10 polynomial coefficients, row-major:\n"
        + " " * 13 + "(N-1) segments \u00d7 10 coefficients each [L0, S, e, A, B, C, D, E, F, G]\n"
        "\n"
        "# Returns\n"
        "\u03c3 = \u039b(molarity) \u00d7 molarity / 10  in S/m.",
    "koh_gilliam_eval":
        "Electrical conductivity of a KOH solution (S/m) using the Gilliam combined\n"
        "model (below 80 \u00b0C: Gilliam low-T polynomial of molarity; above 80 \u00b0C:\n"
        "Gilliam high-T polynomial of mass-fraction percentage).\n"
        "\n"
        "The low-temperature branch computes molarity internally via the Laliberte\n"
        "density model using the supplied parameters `c0`\u2013`c4`.\n"
        "\n"
        "All arrays must have the same length.",
    "parse_thermoprop":
        "Parse a thermodynamic properties file (e.g. `nvt_prod.dat`).\n"
        "\n"
        "Line 0 is a title comment and is skipped.\n"
        "Line 1 has the column names after stripping the leading '#'.\n"
        "Lines 2 onwards are data.\n"
        "\n"
        "Returns a Python dict mapping column name \u2192 list[float].",
    "parse_volume_density":
        "Parse volume.dat or density.dat.\n"
        "\n"
        "Format: 2 header lines, then rows with [timestep, value].\n"
        "Returns the value (column 1) from the first data row.",
    "parse_bond_angle":
        "Parse a bond-angle histogram file (e.g. `npt_prod_angle.dat`).\n"
        "\n"
        "Line layout:\n"
        "  0  title comment             \u2192 skip\n"
        "  1  stats comment             \u2192 skip\n"
        "  2  column-name comment       \u2192 use as header (strip '#')\n"
        "  3  per-timestep stats line   \u2192 skip\n"
        "  4+ data rows\n"
        "\n"
        "Returns a Python dict mapping column name \u2192 list[float].\n"
        "Column names include \"Coord\" and \"Count/Total\".",
    "read_group_count":
        "Read the number of atoms assigned to a LAMMPS group from a log file.\n"
        "\n"
        "Searches for the first line containing \"group <name>\" and reads the first\n"
        "integer on the immediately following line (which LAMMPS writes as\n"
        "\"<N> atoms in group <name>\").",
    "diff_calculator":
        "Fit MSD vs time data to extract a transport coefficient.\n"
        "\n"
        "Searches all start/length windows (i, j) within the margin-trimmed\n"
        "region whose log-log slope is within `max_error` of 1.  Among qualifying\n"
        "windows, picks the one whose slope is closest to 1, then performs a\n"
        "final linear regression on the raw (non-log) data to extract the slope D.\n"
        "\n"
        "Returns `(D, t_fit, fit)`.  On failure returns `(NaN, [t[0]], [msd[0]])`.\n"
        "\n"
        "This is a direct translation of the original `diff_calculator` method.\n"
        "The `min_displacement` parameter (in meters) is squared and used to filter out\n"
        "MSD values (using absolute value) below this threshold before fitting.",
    "mass_fraction_to_molality":
        "Mass fraction (or %, if divided by 100 beforehand) \u2192 molality in mol/kg.\n"
        "`molecular_weight` is the molecular weight of the salt in g/mol.",
    "molality_to_mass_fraction":
        "Molality (mol/kg) \u2192 mass fraction [0, 1].\n"
        "`molecular_weight` is the molecular weight of the salt in g/mol.",
    "mole_fraction_to_molality":
        "Mole fraction of solute \u2192 molality (mol/kg solvent).\n"
        "`molecular_weight` is the molecular weight of the solvent in g/mol.",
    "molality_to_mole_fraction":
        "Molality (mol/kg) \u2192 mole fraction of solute.\n"
        "`molecular_weight` is the molecular weight of the solvent in g/mol.",
    "molarity_to_molality":
        "Convert molarity values (mol/L) to molality (mol/kg water) by numerically\n"
        "inverting the Laliberte density model via the Brent\u2013Dekker algorithm.\n"
        "\n"
        "Each element is solved independently; convergence is O(log((hi-lo)/tol))\n"
        "iterations \u2014 typically 40\u201360 for `tol = 1e-10`.\n"
        "\n"
        "# Arguments\n"
        "* `molarity` \u2013 molarity values in mol/L\n"
        "* `temperature` \u2013 temperature in K (scalar, shared across all elements)\n"
        "* `molecular_weight` \u2013 molecular weight of the salt in g/mol\n"
        "* `c0`\u2013`c4` \u2013 Laliberte density fit parameters\n"
        "* `tolerance` \u2013 absolute tolerance on molality (default: 1e-10 mol/kg)\n"
        "* `maximum_iterations` \u2013 maximum Brent iterations per element (default: 200)",
    "tau_calculator":
        "Mean time between proton-transfer events \u03c4 (s).\n"
        "\n"
        "Derived from the difference between experimental and MD conductivity:\n"
        "\u03c4 = \u03b4\u00b2 e\u00b2 N / (6 k T L\u00b3 \u0394\u03c3)",
    "diffusion_adjustment":
        "Diffusion-coefficient adjustment `D_hop` = \u03b4\u00b2 / (6\u03c4) in m\u00b2/s.",
}


def registered(module):
    return [name for name in TABLE if name in module.__all__]


def test_all_lists_registered_functions_in_table_order(module):
    names = module.__all__
    assert type(names) is list
    assert all(type(n) is str for n in names)
    assert names == registered(module), "unknown, repeated or misordered names"
    assert set(REQUIRED) <= set(names)
    for name in names:
        fn = getattr(module, name)
        assert type(fn) is types.BuiltinFunctionType
        assert fn.__name__ == name


def test_all_is_the_complete_table(module):
    # every function of the table, registered in table order, each with its
    # documentation (checked text by text below)
    assert module.__all__ == list(TABLE)
    assert set(DOCS) == set(TABLE)


def test_module_doc_is_empty_string(module):
    assert module.__doc__ == ""
    assert module.__name__ == "vexa_pp._vexa_pp"


@pytest.mark.parametrize("name", DOCS)
def test_docstring_and_text_signature(module, name):
    fn = getattr(module, name)
    assert fn.__doc__ == DOCS[name]
    assert fn.__text_signature__ == "(" + ", ".join(TABLE[name]) + ")"


def test_signatures(module):
    for name in registered(module):
        params = list(inspect.signature(getattr(module, name)).parameters.values())
        assert [p.name for p in params] == list(TABLE[name]), name
        for p in params:
            assert p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
            assert p.default is inspect.Parameter.empty
            assert p.annotation is inspect.Parameter.empty


def test_functions_are_bound_to_the_module(module):
    for name in registered(module):
        fn = getattr(module, name)
        assert fn.__module__ == module.__name__
        assert fn.__self__ is module


def test_every_module_object_gets_its_own_functions(module):
    spec = importlib.util.find_spec(module.__name__)
    other = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(other)
    assert other is not module
    assert other.__doc__ == ""
    assert other.__all__ == module.__all__
    assert other.__all__ is not module.__all__
    for name in other.__all__:
        assert getattr(other, name) is not getattr(module, name)
        assert getattr(other, name).__self__ is other
    assert other.diffusion_adjustment(1.0, 1.0) == module.diffusion_adjustment(1.0, 1.0)


@pytest.fixture
def sample_args(write_file):
    return {
        "parse_vexa_file": (write_file("#Time a\n1 2\n"),),
        "local_maximum_finder": ([0.0, 3.0, 1.0, 4.0, 0.0], 1, 1),
        "repacking_results": ([1.0, 2.0, 4.0],),
        "tau_calculator": (2.0, 1.0, 300.0, 1e-9, 1.0, 1e-10),
        "diffusion_adjustment": (1e-11, 1e-10),
    }


@pytest.mark.parametrize("name", REQUIRED)
def test_keyword_calls_match_positional_calls(module, sample_args, name):
    fn = getattr(module, name)
    args = sample_args[name]
    kwargs = dict(reversed(list(zip(TABLE[name], args))))
    expected = fn(*args)
    assert fn(**kwargs) == expected
    assert fn(*args[:1], **dict(list(zip(TABLE[name], args))[1:])) == expected
