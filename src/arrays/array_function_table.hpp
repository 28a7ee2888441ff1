// The array module's functions in registration order, one row each: the
// Python name, the parameters, the documentation and the body. The Python
// package wraps them (vexa_pp.dumps, vexa_pp.multi_origin_msd).
#pragma once

#include <tuple>

#include "arrays/released_function.hpp"
#include "trajectory/dump_reader.hpp"
#include "trajectory/multi_origin_msd.hpp"

namespace vexa::arrays {

inline constexpr std::tuple array_function_table{
    ReleasedFunction<&trajectory::read_lammps_dump>{
        "read_lammps_dump", "path, types",
        R"(Read a LAMMPS text dump (plain or gzip) into arrays along time.

`types` is a list of the atom types to keep, or None for all of them.
Returns (timesteps, ids, types, positions, volumes, edges, tilts, notes,
warnings): positions have the shape (atoms, 3, frames), unwrapped.)"},

    ReleasedFunction<&trajectory::per_atom_msd>{
        "per_atom_msd", "positions",
        R"(Multi-origin mean squared displacement of every atom, by FFT.

`positions`: C-contiguous float64 (atoms, 3, frames). Returns (atoms, frames).)"},

    ReleasedFunction<&trajectory::mean_msd>{
        "mean_msd", "positions, atoms",
        R"(Multi-origin mean squared displacement averaged over the atoms whose
indices `atoms` (int64) lists. Returns (frames,).)"},
};

} // namespace vexa::arrays
