#include "common/interruption.hpp"

#include <atomic>

namespace vexa {
namespace {

// Set once when the module is imported and only read afterwards.
std::atomic<InterruptQuery> installed_query{nullptr};

} // namespace

void install_interrupt_query(InterruptQuery query) {
  installed_query.store(query, std::memory_order_release);
}

bool interrupt_requested() {
  const InterruptQuery query = installed_query.load(std::memory_order_acquire);
  return query != nullptr && query();
}

} // namespace vexa
