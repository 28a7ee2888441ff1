// The module's functions in registration order: one row each, giving the
// Python name, the parameters as the text signature lists them, the
// documentation and the body.
#pragma once

#include <tuple>

#include "analysis/msd_fit.hpp"
#include "analysis/proton_hopping.hpp"
#include "analysis/statistics.hpp"
#include "binding/function.hpp"
#include "conversions/composition.hpp"
#include "conversions/molarity_to_molality.hpp"
#include "models/dewane.hpp"
#include "models/koh_conductivity.hpp"
#include "models/laliberte_density.hpp"
#include "models/laliberte_viscosity.hpp"
#include "readers/property_tables.hpp"
#include "readers/single_values.hpp"
#include "readers/transport_table.hpp"

namespace vexa {

using binding::Function;

inline constexpr std::tuple function_table{
    Function<&readers::parse_vexa_file>{
        "parse_vexa_file", "path",
        R"(Parse VEXA MSD output files (viscosity.dat, diffself.dat, diffonsag.dat,
thermconductivity.dat, rdf.dat).

Locates the header by finding the last line whose `lstrip()` starts with
`"#Time"`; every line above it is skipped.
When no `"#Time"` line is present (as in rdf.dat), the first line is
taken as the header.

Returns a Python dict mapping column name → list[float].)"},

    Function<&readers::parse_thermoprop>{
        "parse_thermoprop", "path",
        R"(Parse a thermodynamic properties file (e.g. `nvt_prod.dat`).

Line 0 is a title comment and is skipped.
Line 1 has the column names after stripping the leading '#'.
Lines 2 onwards are data.

Returns a Python dict mapping column name → list[float].)"},

    Function<&readers::parse_volume_density>{"parse_volume_density", "path",
                                             R"(Parse volume.dat or density.dat.

Format: 2 header lines, then rows with [timestep, value].
Returns the value (column 1) from the first data row.)"},

    Function<&readers::parse_bond_angle>{
        "parse_bond_angle", "path",
        R"(Parse a bond-angle histogram file (e.g. `npt_prod_angle.dat`).

Line layout:
  0  title comment             → skip
  1  stats comment             → skip
  2  column-name comment       → use as header (strip '#')
  3  per-timestep stats line   → skip
  4+ data rows

Returns a Python dict mapping column name → list[float].
Column names include "Coord" and "Count/Total".)"},

    Function<&readers::read_group_count>{
        "read_group_count", "log_path, group_name",
        R"(Read the number of atoms assigned to a LAMMPS group from a log file.

Searches for the first line containing "group <name>" and reads the first
integer on the immediately following line (which LAMMPS writes as
"<N> atoms in group <name>").)"},

    Function<&analysis::local_maximum_finder>{
        "local_maximum_finder", "data, search_start, neighbor_count",
        R"(Find the index of the first local maximum in `data` starting from
`search_start`, where "local" means strictly greater than the `neighbor_count`
neighbours on each side.  Returns `neighbor_count + search_start` if no maximum
is found.)"},

    Function<&analysis::repacking_results>{
        "repacking_results", "d_array",
        R"(Compute nanmean, nanstd (population), and the count of finite values.)"},

    Function<&analysis::diff_calculator>{
        "diff_calculator",
        "time, msd_in, margin, min_window, max_window, max_error, min_displacement",
        R"(Fit MSD vs time data to extract a transport coefficient.

Searches all start/length windows (i, j) within the margin-trimmed
region whose log-log slope is within `max_error` of 1.  Among qualifying
windows, picks the one whose slope is closest to 1, then performs a
final linear regression on the raw (non-log) data to extract the slope D.

Returns `(D, t_fit, fit)`.  On failure returns `(NaN, [t[0]], [msd[0]])`.

Every window is tried, so the result does not depend on a starting guess.
The `min_displacement` parameter (in meters) is squared and used to filter out
MSD values (using absolute value) below this threshold before fitting.)"},

    Function<&models::laliberte_density>{
        "laliberte_density", "temperature, molality, molecular_weight, c0, c1, c2, c3, c4",
        R"(Density (kg/m³) and molarity (mol/L) of a salt solution via Laliberte (2007).

Arrays `temperature` and `molality` must have the same length.
`c0`–`c4` are the Laliberte density fit parameters.)"},

    Function<&models::laliberte_viscosity>{
        "laliberte_viscosity", "temperature, molality, molecular_weight, v1, v2, v3, v4, v5, v6",
        R"(Dynamic viscosity (Pa·s) of a salt solution via Laliberte (2007).

`v1`–`v6` are the Laliberte viscosity fit parameters.)"},

    Function<&conversions::mass_fraction_to_molality>{
        "mass_fraction_to_molality", "mass_fraction, molecular_weight",
        R"(Mass fraction (or %, if divided by 100 beforehand) → molality in mol/kg.
`molecular_weight` is the molecular weight of the salt in g/mol.)"},

    Function<&conversions::molality_to_mass_fraction>{"molality_to_mass_fraction",
                                                      "molality, molecular_weight",
                                                      R"(Molality (mol/kg) → mass fraction [0, 1].
`molecular_weight` is the molecular weight of the salt in g/mol.)"},

    Function<&conversions::mole_fraction_to_molality>{
        "mole_fraction_to_molality", "mole_fraction, molecular_weight",
        R"(Mole fraction of solute → molality (mol/kg solvent).
`molecular_weight` is the molecular weight of the solvent in g/mol.)"},

    Function<&conversions::molality_to_mole_fraction>{
        "molality_to_mole_fraction", "molality, molecular_weight",
        R"(Molality (mol/kg) → mole fraction of solute.
`molecular_weight` is the molecular weight of the solvent in g/mol.)"},

    Function<&models::dewane_eval>{
        "dewane_eval", "molarity, limits, coeffs",
        R"(Evaluate the Dewane segmented molar-conductivity polynomial and return
electrical conductivity in S/m.

# Arguments
* `molarity` – molarity values in mol/L (same length as the desired output)
* `limits` – N concentration limits defining (N-1) contiguous segments (N >= 2)
* `coeffs` – (N-1)*10 polynomial coefficients, row-major:
             (N-1) segments × 10 coefficients each [L0, S, e, A, B, C, D, E, F, G]

# Returns
σ = Λ(molarity) × molarity / 10  in S/m.)"},

    Function<&models::koh_gilliam_eval>{
        "koh_gilliam_eval", "temperature, molality, molecular_weight, c0, c1, c2, c3, c4",
        R"(Electrical conductivity of a KOH solution (S/m) using the Gilliam combined
model (below 80 °C: Gilliam low-T polynomial of molarity; above 80 °C:
Gilliam high-T polynomial of mass-fraction percentage).

The low-temperature branch computes molarity internally via the Laliberte
density model using the supplied parameters `c0`–`c4`.

All arrays must have the same length.)"},

    Function<&conversions::molarity_to_molality>{
        "molarity_to_molality",
        "molarity, temperature, molecular_weight, c0, c1, c2, c3, c4, tolerance, "
        "maximum_iterations",
        R"(Convert molarity values (mol/L) to molality (mol/kg water) by numerically
inverting the Laliberte density model via the Brent–Dekker algorithm.

Each element is solved independently; convergence is O(log((hi-lo)/tol))
iterations — typically 40–60 for `tol = 1e-10`.

# Arguments
* `molarity` – molarity values in mol/L
* `temperature` – temperature in K (scalar, shared across all elements)
* `molecular_weight` – molecular weight of the salt in g/mol
* `c0`–`c4` – Laliberte density fit parameters
* `tolerance` – absolute tolerance on molality (default: 1e-10 mol/kg)
* `maximum_iterations` – maximum Brent iterations per element (default: 200))"},

    Function<&analysis::tau_calculator>{
        "tau_calculator",
        "experimental_conductivity, md_conductivity, temperature, box_length, particle_count, "
        "hop_distance",
        R"(Mean time between proton-transfer events τ (s).

Derived from the difference between experimental and MD conductivity:
τ = δ² e² N / (6 k T L³ Δσ))"},

    Function<&analysis::diffusion_adjustment>{
        "diffusion_adjustment", "time_between_hops, hop_distance",
        R"(Diffusion-coefficient adjustment `D_hop` = δ² / (6τ) in m²/s.)"},
};

} // namespace vexa
