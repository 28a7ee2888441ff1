// How much more memory a call may take before the system refuses it.
#pragma once

#include <cstdint>

namespace vexa::trajectory {

// The smaller of the memory the kernel reports available (MemAvailable) and
// what the address-space limit (RLIMIT_AS) leaves; the largest value when
// neither can be read.
std::uint64_t available_memory_bytes();

} // namespace vexa::trajectory
