// Mean squared displacements averaged over every time origin, by FFT: for
// lag m over F frames,
//   MSD(m) = 1/(F−m) Σ_k |r(k+m) − r(k)|²  =  S1(m) − 2·S2(m),
//   S1(m)  = 1/(F−m) Σ_{k<F−m} (|r(k)|² + |r(k+m)|²),
//   S2(m)  = 1/(F−m) Σ_{k<F−m} r(k)·r(k+m),
// S2 being the autocorrelation, taken from the power spectrum of the
// positions padded with zeros to at least 2F−1 (so the circular correlation
// does not wrap) — Kneller and co-workers' decomposition (Calandrini et al.,
// École thématique de la Société Française de la Neutronique 12, 2011),
// O(F log F) per atom instead of O(F²).
#pragma once

#include <cstdint>

#include "common/native_array.hpp"
#include "common/outcome.hpp"

namespace vexa::trajectory {

// positions: (atoms, 3, frames), C order. The MSD of each atom, summed over
// x, y and z: (atoms, frames), lag 0 first (exactly 0).
Outcome<NativeArray<double>> per_atom_msd(const ArrayView<double>& positions);

// The MSD averaged over the atoms whose indices are given (in any order,
// repeats counting twice): (frames).
Outcome<NativeArray<double>> mean_msd(const ArrayView<double>& positions,
                                      const ArrayView<std::int64_t>& atoms);

} // namespace vexa::trajectory
