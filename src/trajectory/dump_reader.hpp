// LAMMPS text dumps (dump custom / dump atom) read into arrays along time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/native_array.hpp"
#include "common/outcome.hpp"

namespace vexa::trajectory {

struct DumpArrays {
  NativeArray<std::int64_t> timesteps; // (frames)
  NativeArray<std::int64_t> ids;       // (atoms), ascending
  NativeArray<std::int64_t> types;     // (atoms)
  NativeArray<double> positions;       // (atoms, 3, frames), unwrapped, the dump's length unit
  NativeArray<double> volumes;         // (frames)
  NativeArray<double> edges;           // (frames, 3): lx, ly, lz
  NativeArray<double> tilts;           // (frames, 3): xy, xz, yz
  std::vector<std::string> notes;      // what the reader did that the caller should know
  std::vector<std::string> warnings;   // what may make the positions wrong
};

// The atom types to keep; every atom when absent.
using TypeSelection = std::optional<std::vector<std::int64_t>>;

// Reads the dump at path (plain text or gzip). Errors name the file, and,
// where one is at fault, the frame's timestep and the line.
Outcome<DumpArrays> read_lammps_dump(std::string_view path, const TypeSelection& types);

} // namespace vexa::trajectory
