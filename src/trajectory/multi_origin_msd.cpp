#include "trajectory/multi_origin_msd.hpp"

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

#include <kissfft.hh>

#include "common/interruption.hpp"

namespace vexa::trajectory {
namespace {

using Complex = std::complex<double>;

// The smallest length of at least `minimum` whose only prime factors are 2,
// 3 and 5: the radices the FFT has fast butterflies for.
std::size_t fast_length(std::size_t minimum) {
  std::size_t best = 1;
  while (best < minimum)
    best *= 2;
  for (std::size_t fives = 1; fives < 2 * minimum; fives *= 5)
    for (std::size_t threes = fives; threes < 2 * minimum; threes *= 3) {
      std::size_t length = threes;
      while (length < minimum)
        length *= 2;
      if (length < best) best = length;
    }
  return best;
}

// MSD(m) = (Q(m) − 2·acf(m)) / (F − m) / count, with Q(m) = Σ_{k<F−m}
// |r(k)|² + Σ_{k≥m} |r(k)|² taken down from Q(0) = 2 Σ |r(k)|²; squares are
// the |r(k)|² of F frames, and correlation(m) the unscaled inverse
// transform of a `length`-point power spectrum at lag m.
template <class Correlation>
void msd_from_correlation(const double* squares, std::size_t frames, std::size_t length,
                          double count, double* msd, Correlation correlation) {
  double total = 0.0;
  for (std::size_t k = 0; k < frames; ++k)
    total += squares[k];
  double q = 2.0 * total;
  const double scale = 1.0 / static_cast<double>(length);
  msd[0] = 0.0;
  for (std::size_t m = 1; m < frames; ++m) {
    q = q - squares[m - 1] - squares[frames - m];
    msd[m] = (q - 2.0 * (correlation(m) * scale)) / static_cast<double>(frames - m) / count;
  }
}

// The MSDs of atoms two at a time. Both atoms' six coordinate rows are real,
// so they travel in three complex transforms (two rows each, as real and
// imaginary parts) and their two power spectra, real and even, come back in
// one inverse transform: two transforms per atom instead of four.
class PairKernel {
public:
  explicit PairKernel(std::size_t frames)
      : frames_(frames), length_(fast_length(2 * frames - 1)), forward_(length_, false),
        inverse_(length_, true), packed_(length_), spectrum_(length_), power_a_(length_),
        power_b_(length_), centred_(6 * frames), squares_a_(frames), squares_b_(frames) {}

  std::size_t length() const { return length_; }

  // a, b: an atom's three rows of `frames` values; b may be null. Writes the
  // MSD of each over all lags.
  void run(const double* a, const double* b, double* msd_a, double* msd_b) {
    centre(a, centred_.data(), squares_a_.data());
    if (b != nullptr) centre(b, centred_.data() + 3 * frames_, squares_b_.data());
    const double* const ca = centred_.data();
    const double* const cb = centred_.data() + 3 * frames_;
    std::fill(power_a_.begin(), power_a_.end(), 0.0);
    std::fill(power_b_.begin(), power_b_.end(), 0.0);
    transform(ca, ca + frames_);
    add_power_of_both(power_a_);
    transform(ca + 2 * frames_, b != nullptr ? cb : nullptr);
    add_power_of_each();
    if (b != nullptr) {
      transform(cb + frames_, cb + 2 * frames_);
      add_power_of_both(power_b_);
    }
    for (std::size_t k = 0; k < length_; ++k)
      packed_[k] = Complex(power_a_[k], power_b_[k]);
    inverse_.transform(packed_.data(), spectrum_.data());
    finish(squares_a_.data(), 0, msd_a);
    if (b != nullptr) finish(squares_b_.data(), 1, msd_b);
  }

private:
  // Removes each row's mean (the MSD does not change, and the sums S1 and
  // 2·S2, whose difference it is, shrink: less is lost when they cancel);
  // squares[k] = |r(k)|² of the centred rows.
  void centre(const double* rows, double* out, double* squares) const {
    for (int axis = 0; axis < 3; ++axis) {
      const double* row = rows + axis * frames_;
      double sum = 0.0;
      for (std::size_t k = 0; k < frames_; ++k)
        sum += row[k];
      const double mean = sum / static_cast<double>(frames_);
      double* centred = out + axis * frames_;
      for (std::size_t k = 0; k < frames_; ++k)
        centred[k] = row[k] - mean;
    }
    for (std::size_t k = 0; k < frames_; ++k) {
      const double x = out[k], y = out[frames_ + k], z = out[2 * frames_ + k];
      squares[k] = x * x + y * y + z * z;
    }
  }

  // spectrum_ = FFT(re + i·im) of the rows padded with zeros.
  void transform(const double* re, const double* im) {
    for (std::size_t k = 0; k < frames_; ++k)
      packed_[k] = Complex(re[k], im != nullptr ? im[k] : 0.0);
    std::fill(packed_.begin() + static_cast<std::ptrdiff_t>(frames_), packed_.end(), Complex());
    forward_.transform(packed_.data(), spectrum_.data());
  }

  // With Z the transform of u + i·v: U_k = (Z_k + conj Z_{n−k})/2 and
  // V_k = (Z_k − conj Z_{n−k})/(2i), so |U_k|² + |V_k|² = (|Z_k|² + |Z_{n−k}|²)/2.
  void add_power_of_both(std::vector<double>& power) const {
    for (std::size_t k = 0; k < length_; ++k) {
      const Complex z = spectrum_[k], mirror = spectrum_[k == 0 ? 0 : length_ - k];
      power[k] += 0.5 * (std::norm(z) + std::norm(mirror));
    }
  }

  // The real part's power to atom a, the imaginary part's to atom b.
  void add_power_of_each() {
    for (std::size_t k = 0; k < length_; ++k) {
      const Complex z = spectrum_[k], mirror = std::conj(spectrum_[k == 0 ? 0 : length_ - k]);
      power_a_[k] += 0.25 * std::norm(z + mirror);
      power_b_[k] += 0.25 * std::norm(z - mirror);
    }
  }

  // The atom's autocorrelation is the real (part 0) or imaginary part of
  // the inverse transform.
  void finish(const double* squares, int part, double* msd) const {
    msd_from_correlation(squares, frames_, length_, 1.0, msd, [&](std::size_t m) {
      const Complex c = spectrum_[m];
      return part == 0 ? c.real() : c.imag();
    });
  }

  std::size_t frames_;
  std::size_t length_;
  kissfft<double> forward_, inverse_;
  std::vector<Complex> packed_, spectrum_;
  std::vector<double> power_a_, power_b_, centred_, squares_a_, squares_b_;
};

// The MSD summed over a group of atoms. Autocorrelations add up in the
// frequency domain, so the rows' power spectra are summed and transformed
// back once: a row costs half a forward transform (rows travel two at a
// time, as real and imaginary parts) and no inverse.
class GroupKernel {
public:
  explicit GroupKernel(std::size_t frames)
      : frames_(frames), length_(fast_length(2 * frames - 1)), forward_(length_, false),
        inverse_(length_, true), packed_(length_), spectrum_(length_), power_(length_),
        squares_(frames) {}

  std::size_t length() const { return length_; }

  // Adds two coordinate rows (v may be null) of `frames` values.
  void add_rows(const double* u, const double* v) {
    centre(u, [&](std::size_t k, double c) { packed_[k] = Complex(c, 0.0); });
    if (v != nullptr) centre(v, [&](std::size_t k, double c) { packed_[k].imag(c); });
    std::fill(packed_.begin() + static_cast<std::ptrdiff_t>(frames_), packed_.end(), Complex());
    forward_.transform(packed_.data(), spectrum_.data());
    // |U_k|² + |V_k|² = (|Z_k|² + |Z_{n−k}|²)/2, as for one atom.
    for (std::size_t k = 0; k < length_; ++k)
      power_[k] += 0.5 * (std::norm(spectrum_[k]) + std::norm(spectrum_[k == 0 ? 0 : length_ - k]));
  }

  // msd = the summed MSD divided by `count`.
  void finish(double count, double* msd) {
    for (std::size_t k = 0; k < length_; ++k)
      packed_[k] = Complex(power_[k], 0.0);
    inverse_.transform(packed_.data(), spectrum_.data());
    msd_from_correlation(squares_.data(), frames_, length_, count, msd,
                         [&](std::size_t m) { return spectrum_[m].real(); });
  }

private:
  // Hands each value of the row less the row's mean to put(k, value), and
  // adds its square to squares_.
  template <class Put> void centre(const double* row, Put put) {
    double sum = 0.0;
    for (std::size_t k = 0; k < frames_; ++k)
      sum += row[k];
    const double mean = sum / static_cast<double>(frames_);
    for (std::size_t k = 0; k < frames_; ++k) {
      const double c = row[k] - mean;
      put(k, c);
      squares_[k] += c * c;
    }
  }

  std::size_t frames_;
  std::size_t length_;
  kissfft<double> forward_, inverse_;
  std::vector<Complex> packed_, spectrum_;
  std::vector<double> power_, squares_;
};

Outcome<void> check_positions(const ArrayView<double>& positions) {
  const auto& shape = positions.shape;
  if (shape.size() != 3 || shape[1] != 3)
    return value_error("positions must have the shape (atoms, 3, frames)");
  if (shape[2] == 0) return value_error("positions hold no frame");
  return {};
}

// Runs the kernel over the atoms two at a time, handing each atom's MSD to
// take(index in `order`, msd).
template <class Take>
Outcome<void> for_each_atom_msd(const ArrayView<double>& positions,
                                const std::vector<std::size_t>& order, Take take) {
  const std::size_t frames = positions.shape[2];
  PairKernel kernel(frames);
  std::vector<double> msd_a(frames), msd_b(frames);
  // Counted in transformed values, two transforms' worth per atom: a pair
  // of 2,000-frame atoms is about 0.4 ms, so the looks for Ctrl-C come
  // about every millisecond.
  InterruptPoll poll(std::uint64_t{1} << 14);
  for (std::size_t i = 0; i < order.size(); i += 2) {
    const double* a = positions.values + order[i] * 3 * frames;
    const double* b = i + 1 < order.size() ? positions.values + order[i + 1] * 3 * frames : nullptr;
    kernel.run(a, b, msd_a.data(), msd_b.data());
    take(i, msd_a.data());
    if (b != nullptr) take(i + 1, msd_b.data());
    if (poll(2 * kernel.length())) return interrupted();
  }
  return {};
}

} // namespace

Outcome<NativeArray<double>> per_atom_msd(const ArrayView<double>& positions) {
  if (auto valid = check_positions(positions); !valid) return std::unexpected(valid.error());
  const std::size_t atoms = positions.shape[0], frames = positions.shape[2];
  NativeArray<double> out({atoms, frames});
  std::vector<std::size_t> order(atoms);
  for (std::size_t i = 0; i < atoms; ++i)
    order[i] = i;
  auto done = for_each_atom_msd(positions, order, [&](std::size_t i, const double* msd) {
    std::copy_n(msd, frames, out.data() + i * frames);
  });
  if (!done) return std::unexpected(done.error());
  return out;
}

Outcome<NativeArray<double>> mean_msd(const ArrayView<double>& positions,
                                      const ArrayView<std::int64_t>& atoms) {
  if (auto valid = check_positions(positions); !valid) return std::unexpected(valid.error());
  const std::size_t count = atoms.shape.empty() ? 0 : atoms.shape[0];
  if (atoms.shape.size() != 1 || count == 0)
    return value_error("atoms must be a non-empty list of atom indices");
  std::vector<std::size_t> order(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::int64_t index = atoms.values[i];
    if (index < 0 || static_cast<std::uint64_t>(index) >= positions.shape[0])
      return value_error("atom index " + std::to_string(index) + " is out of range for " +
                         std::to_string(positions.shape[0]) + " atoms");
    order[i] = static_cast<std::size_t>(index);
  }
  const std::size_t frames = positions.shape[2];
  NativeArray<double> out({frames});
  GroupKernel kernel(frames);
  InterruptPoll poll(std::uint64_t{1} << 14); // as for single atoms: about a millisecond
  const std::size_t rows = 3 * order.size();
  const auto row = [&](std::size_t r) {
    return positions.values + (order[r / 3] * 3 + r % 3) * frames;
  };
  for (std::size_t r = 0; r < rows; r += 2) {
    kernel.add_rows(row(r), r + 1 < rows ? row(r + 1) : nullptr);
    if (poll(kernel.length())) return interrupted();
  }
  kernel.finish(static_cast<double>(order.size()), out.data());
  return out;
}

} // namespace vexa::trajectory
