// Long work in the bodies ends early when the caller asks for it (Ctrl-C at
// the interpreter). Bodies never see the interpreter, so they ask a question
// that the binding layer installs at import; where nobody installed one (the
// fuzz targets), nothing ever asks a body to stop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexa {

// True when the running call must end now. The binding layer's answer runs
// the interpreter's signal handlers and leaves the exception one of them
// raised pending.
using InterruptQuery = bool (*)();

void install_interrupt_query(InterruptQuery query);

// Asks the installed question; false when there is none.
bool interrupt_requested();

// Work between two questions: asking costs a few nanoseconds, so loops ask
// once per interval of roughly a millisecond of their own work, well within
// the 20 ms a person notices.
class InterruptPoll {
public:
  explicit constexpr InterruptPoll(std::uint64_t interval) : interval_(interval), left_(interval) {}

  // Counts `units` of work done; true when the call must end.
  bool operator()(std::uint64_t units = 1) {
    if (units < left_) {
      left_ -= units;
      return false;
    }
    left_ = interval_;
    return interrupt_requested();
  }

private:
  std::uint64_t interval_;
  std::uint64_t left_;
};

// Runs step(i) for every i in [0, n) in order, asking between blocks of
// `block` indices. False when the call must end before all are done.
template <class Step> bool for_each_index(std::size_t n, std::size_t block, Step step) {
  for (std::size_t first = 0; first < n; first += block) {
    if (first != 0 && interrupt_requested()) return false;
    const std::size_t last = n - first < block ? n : first + block;
    for (std::size_t i = first; i < last; ++i)
      step(i);
  }
  return true;
}

} // namespace vexa
