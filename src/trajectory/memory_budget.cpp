#include "trajectory/memory_budget.hpp"

#include <cstdio>
#include <limits>
#include <sys/resource.h>
#include <unistd.h>

namespace vexa::trajectory {
namespace {

constexpr std::uint64_t unknown = std::numeric_limits<std::uint64_t>::max();

std::uint64_t kernel_available() {
  std::FILE* file = std::fopen("/proc/meminfo", "r");
  if (file == nullptr) return unknown;
  char line[256];
  std::uint64_t kibibytes = 0;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, file) != nullptr)
    found = std::sscanf(line, "MemAvailable: %lu kB", &kibibytes) == 1;
  std::fclose(file);
  return found ? kibibytes * 1024 : unknown;
}

std::uint64_t address_space_left() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return unknown;
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (file == nullptr) return unknown;
  unsigned long pages = 0;
  const bool read = std::fscanf(file, "%lu", &pages) == 1;
  std::fclose(file);
  if (!read) return unknown;
  const std::uint64_t used =
      std::uint64_t{pages} * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return used >= limit.rlim_cur ? 0 : limit.rlim_cur - used;
}

} // namespace

std::uint64_t available_memory_bytes() {
  const std::uint64_t kernel = kernel_available();
  const std::uint64_t address_space = address_space_left();
  return kernel < address_space ? kernel : address_space;
}

} // namespace vexa::trajectory
