// The module's functions in registration order: one row each, giving the
// Python name, the parameters as the text signature lists them, the
// documentation and the body.
#pragma once

#include <tuple>

#include "analysis/proton_hopping.hpp"
#include "analysis/statistics.hpp"
#include "binding/function.hpp"
#include "readers/transport_table.hpp"

namespace vexa {

using binding::Function;

inline constexpr std::tuple function_table{
    Function<&readers::parse_vexa_file>{
        "parse_vexa_file", "path",
        R"(Parse VEXA MSD output files (viscosity.dat, diffself.dat, diffonsag.dat,
thermconductivity.dat, rdf.dat).

Locates the header by finding the last line whose `lstrip()` starts with
`"#Time"` (same heuristic as the original Python `read()` function).
For rdf.dat the first line already IS the header so the default row=0
is kept when no `"#Time"` line is present.

Returns a Python dict mapping column name → list[float].)"},

    Function<&analysis::local_maximum_finder>{
        "local_maximum_finder", "data, search_start, neighbor_count",
        R"(Find the index of the first local maximum in `data` starting from
`search_start`, where "local" means strictly greater than the `neighbor_count`
neighbours on each side.  Returns `neighbor_count + search_start` if no maximum
is found (same fallback as the original Python implementation).)"},

    Function<&analysis::repacking_results>{
        "repacking_results", "d_array",
        R"(Compute nanmean, nanstd (population), and the count of finite values.)"},

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
