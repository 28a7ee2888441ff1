#include "trajectory/dump_reader.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <utility>

#include "common/interruption.hpp"
#include "common/number_format.hpp"
#include "readers/number.hpp"
#include "trajectory/atom_index.hpp"
#include "trajectory/dump_header.hpp"
#include "trajectory/dump_source.hpp"
#include "trajectory/memory_budget.hpp"
#include "trajectory/time_major_store.hpp"

namespace vexa::trajectory {
namespace {

// Frames gathered before they are transposed into the rows along time: as
// many as fit in about 2 MB (a second-level cache), at most 32.
constexpr std::size_t gather_bytes = std::size_t{2} << 20;
constexpr std::size_t most_frames_per_block = 32;

// Rows between two looks for Ctrl-C: about half a millisecond of reading.
constexpr std::uint64_t rows_per_poll = 16384;

struct Row {
  std::int64_t id;
  std::int64_t type;
  double position[3];
  std::int64_t image[3];
};

// Turns a row's fields into Cartesian coordinates: offset + scale·p +
// image·period per axis, one form for every style that needs one. Positions
// written as they are (xu yu zu, or x y z to be unwrapped by jumps) are
// taken as read: even adding zero would turn a -0 into +0.
struct CoordinateMap {
  double offset[3];
  double scale[3];
  double period[3];
  bool as_read;

  CoordinateMap(const AtomColumns& columns, const Box& box)
      : as_read(!columns.scaled() && !columns.has_images()) {
    for (int axis = 0; axis < 3; ++axis) {
      offset[axis] = columns.scaled() ? box.low[axis] : 0.0;
      scale[axis] = columns.scaled() ? box.edge[axis] : 1.0;
      period[axis] = columns.has_images() ? box.edge[axis] : 0.0;
    }
  }
  void apply(const Row& row, double* out) const {
    for (int axis = 0; axis < 3; ++axis)
      out[axis] = as_read ? row.position[axis]
                          : offset[axis] + scale[axis] * row.position[axis] +
                                static_cast<double>(row.image[axis]) * period[axis];
  }
};

// A coordinate field. Dumps write short fixed-point decimals ("%.4f" by
// default): a sign, a few digits, the point, a few digits. Their at most
// eight digits and the power of ten are both exact in float64, so one
// division rounds correctly (Clinger's fast path) and gives the number
// rule's value. They are read here without a branch on their shape: the
// point is taken out of the first word by masks wherever it stands, since
// the number of integer digits changes from field to field and a branch on
// it would be mispredicted half the time. Any other shape goes to the
// number rule.
[[gnu::always_inline]] inline const char* read_coordinate(const char* p, const char* end,
                                                          double& value) {
  if constexpr (readers::words_are_little_endian) {
    const bool negative = *p == '-';
    const char* const digits = p + negative;
    const std::uint64_t word = readers::load_word(digits);
    const int integer_digits = readers::leading_digits(word);
    if (integer_digits > 0 && integer_digits < 8 && digits[integer_digits] == '.') {
      const std::uint64_t kept = (std::uint64_t{1} << (8 * integer_digits)) - 1;
      const std::uint64_t joined = (word & kept) | (readers::load_word(digits + 1) & ~kept);
      const std::uint64_t non_digits = readers::non_digit_bytes(joined);
      const char* const stop = digits + 1 + std::countr_zero(non_digits) / 8;
      if (non_digits != 0 && (is_blank(*stop) || *stop == '\n')) {
        const double magnitude =
            static_cast<double>(readers::detail::padded_digits_value(joined, non_digits)) /
            readers::detail::exact_powers_of_ten[8 - integer_digits];
        value = negative ? -magnitude : magnitude;
        return stop;
      }
    }
  }
  return readers::read_number_prefix(p, end, value);
}

// A position that is not a finite number (LAMMPS writes nan or inf for an
// atom once a run blows up) would spoil every MSD lag it enters.
// One test for the three: x − x is 0 for a finite x and NaN otherwise.
inline bool finite_position(const double* p) {
  return (p[0] - p[0]) + (p[1] - p[1]) + (p[2] - p[2]) == 0.0;
}

enum class HeaderEnd { frame, end_of_text, cut_short };

struct FrameHeader {
  std::int64_t timestep = 0;
  bool has_timestep = false;
  std::int64_t atoms = -1;
  Box box{};
  bool has_box = false;
  std::string columns; // the text after "ITEM: ATOMS"
  std::size_t columns_line = 0;
};

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_blank(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && is_blank(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string quoted(std::string_view text) {
  constexpr std::size_t shown = 60;
  std::string out = "'";
  out.append(text.substr(0, shown)).append(text.size() > shown ? "...'" : "'");
  return out;
}

class DumpParser {
public:
  DumpParser(std::string_view path, ByteSource source) : path_(path), window_(std::move(source)) {}

  Outcome<DumpArrays> read(const TypeSelection& types);

private:
  // ---- lines and errors
  Outcome<bool> next_line(std::string_view& line);
  bool took_unfinished_last_line() const;
  std::unexpected<BodyError> fail(std::string what, std::size_t line = 0) const;
  std::unexpected<BodyError> memory_refused(std::size_t frames, std::uint64_t bytes,
                                            std::uint64_t available) const;

  // ---- one frame
  Outcome<HeaderEnd> read_header(FrameHeader& header);
  Outcome<void> check_box(const FrameHeader& header) const;
  const char* parse_row(const char* p, const char* number_end, Row& row, std::size_t& bad) const;
  std::unexpected<BodyError> row_error(const char* line, std::size_t bad) const;
  std::unexpected<BodyError> not_finite(std::int64_t id, const double* position,
                                        std::size_t line = 0) const;
  template <class Place> Outcome<std::size_t> read_rows(std::size_t count, Place place);

  // ---- the first frame and the rest
  Outcome<void> take_first_frame(const FrameHeader& header, const TypeSelection& types);
  Outcome<bool> take_frame(const FrameHeader& header);
  Outcome<void> make_room();
  void record_frame(const FrameHeader& header);
  void unwrap_block();
  Outcome<void> flush();
  void note_cut_short(const FrameHeader& header, std::size_t rows);
  void note_header_cut_short(const FrameHeader& header);

  std::string_view path_;
  TextWindow window_;
  std::size_t line_ = 0;
  bool has_timestep_ = false;
  std::int64_t timestep_ = 0;
  InterruptPoll poll_{rows_per_poll};

  AtomColumns columns_;
  std::string first_columns_;
  std::size_t atoms_ = 0; // in every frame
  AtomIndex index_;
  std::vector<std::int32_t> kept_slot_; // by atom index, -1 when not kept
  std::vector<std::uint32_t> seen_;     // by atom index: 1 + the frame that last listed it
  std::uint32_t frame_mark_ = 0;
  std::vector<std::int64_t> kept_ids_, kept_types_;
  std::unique_ptr<TimeMajorStore> store_;
  std::vector<std::int64_t> timesteps_;
  std::vector<Box> boxes_;

  // Unwrapping by jumps: the last frame's positions as read and as
  // unwrapped.
  std::vector<double> last_read_, last_unwrapped_;
  std::size_t large_jumps_ = 0;
  std::size_t repeated_frames_ = 0; // frames whose timestep repeats the one before
  std::string first_large_jump_;
  std::size_t changed_types_ = 0; // rows of kept atoms whose type differs from the first frame's
  std::string first_changed_type_;

  std::vector<std::string> notes_, warnings_;
};

// True when the line just taken was the text's last and lacked its line
// feed: a file still being written (or cut) ends there, wherever it stood.
bool DumpParser::took_unfinished_last_line() const {
  return window_.begin() == window_.end() && window_.source_finished() &&
         window_.last_line_unfinished();
}

Outcome<bool> DumpParser::next_line(std::string_view& line) {
  if (window_.begin() == window_.end()) {
    auto more = window_.extend();
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return false;
  }
  const char* const start = window_.begin();
  const char* const stop =
      static_cast<const char*>(std::memchr(start, '\n', window_.end() - start));
  line = {start, static_cast<std::size_t>(stop - start)};
  window_.consume_to(stop + 1);
  ++line_;
  return true;
}

std::unexpected<BodyError> DumpParser::fail(std::string what, std::size_t line) const {
  std::string message(path_);
  if (has_timestep_) message.append(", timestep ").append(std::to_string(timestep_));
  message.append(", line ").append(std::to_string(line != 0 ? line : line_));
  message.append(": ").append(what);
  return std::unexpected(BodyError{ErrorKind::value_error, std::move(message)});
}

std::unexpected<BodyError> DumpParser::memory_refused(std::size_t frames, std::uint64_t bytes,
                                                      std::uint64_t available) const {
  std::string message(path_);
  message.append(": keeping ")
      .append(std::to_string(kept_ids_.size()))
      .append(" atoms over about ")
      .append(std::to_string(frames))
      .append(" frames needs ")
      .append(std::to_string(bytes))
      .append(" bytes of coordinates, more than the ")
      .append(std::to_string(available))
      .append(" bytes of memory available; select fewer atom types");
  return std::unexpected(BodyError{ErrorKind::memory_error, std::move(message)});
}

Outcome<HeaderEnd> DumpParser::read_header(FrameHeader& header) {
  header = FrameHeader{};
  bool started = false, has_atoms = false;
  std::string_view line;
  for (;;) {
    auto more = next_line(line);
    if (!more) return std::unexpected(std::move(more.error()));
    if (!*more) return started ? HeaderEnd::cut_short : HeaderEnd::end_of_text;
    line = trimmed(line);
    if (line.empty() && !started) continue;
    if (took_unfinished_last_line()) return HeaderEnd::cut_short;
    if (!line.starts_with("ITEM:"))
      return fail("an 'ITEM:' line was expected, found " + quoted(line));
    const std::string_view item = trimmed(line.substr(5));
    started = true;
    // The value lines of an item; false (cut short) at the end of the text,
    // or at an unfinished last line, whose number may have lost digits.
    const auto value_line = [&](std::string_view& value) -> Outcome<bool> {
      auto got = next_line(value);
      if (got && *got) {
        if (took_unfinished_last_line()) return false;
        value = trimmed(value);
      }
      return got;
    };
    std::string_view value;
    if (item == "TIMESTEP" || item == "NUMBER OF ATOMS") {
      auto got = value_line(value);
      if (!got) return std::unexpected(std::move(got.error()));
      if (!*got) return HeaderEnd::cut_short;
      std::int64_t number = 0;
      const char* end = value.empty() ? nullptr : read_integer(value.data(), number);
      if (end != value.data() + value.size() || number < 0)
        return fail(quoted(value) + " after ITEM: " + std::string(item) +
                    " is not a non-negative integer");
      if (item == "TIMESTEP") {
        header.timestep = timestep_ = number;
        has_timestep_ = header.has_timestep = true;
      } else {
        header.atoms = number;
        has_atoms = true;
      }
    } else if (item.starts_with("BOX BOUNDS")) {
      auto tilts = box_has_tilts(item.substr(10));
      if (!tilts) return fail(std::move(tilts.error()));
      std::string lines[3];
      for (auto& bound : lines) {
        auto got = value_line(value);
        if (!got) return std::unexpected(std::move(got.error()));
        if (!*got) return HeaderEnd::cut_short;
        bound = value;
      }
      const std::string_view views[3] = {lines[0], lines[1], lines[2]};
      auto box = box_from_bounds(views, *tilts);
      if (!box) return fail(std::move(box.error()));
      header.box = *box;
      header.has_box = true;
    } else if (item == "UNITS" || item == "TIME") {
      auto got = value_line(value);
      if (!got) return std::unexpected(std::move(got.error()));
      if (!*got) return HeaderEnd::cut_short;
    } else if (item.starts_with("ATOMS")) {
      if (!header.has_timestep || !has_atoms || !header.has_box)
        return fail("ITEM: ATOMS comes before the frame's TIMESTEP, NUMBER OF ATOMS and BOX "
                    "BOUNDS items");
      header.columns = trimmed(item.substr(5));
      header.columns_line = line_;
      return HeaderEnd::frame;
    } else {
      return fail("unknown item " + quoted(line));
    }
  }
}

Outcome<void> DumpParser::check_box(const FrameHeader& header) const {
  if (header.box.triclinic && columns_.style != CoordinateStyle::unwrapped)
    return fail("the box is triclinic and the positions are not unwrapped Cartesian ones "
                "(xu yu zu): unwrapping or unscaling them needs the tilted lattice vectors, "
                "which this reader does not apply; dump xu yu zu instead",
                header.columns_line);
  return {};
}

// The hot loop of the reader: one row, its fields read where they stand.
// Every line in the window ends with a line feed and at least 32 readable
// bytes follow the window, as word-at-a-time number reading needs.
// Returns the start of the next line, or null with `bad` the field at fault.
const char* DumpParser::parse_row(const char* p, const char* number_end, Row& row,
                                  std::size_t& bad) const {
  const std::size_t count = columns_.roles.size();
  for (std::size_t k = 0; k < count; ++k) {
    while (*p == ' ' || *p == '\t')
      ++p;
    if (*p == '\n' || *p == '\r') {
      bad = k;
      return nullptr;
    }
    switch (columns_.roles[k]) {
    case FieldRole::skip:
      while (!is_blank(*p) && *p != '\n')
        ++p;
      continue;
    case FieldRole::id:
      p = read_integer(p, row.id);
      break;
    case FieldRole::type:
      p = read_integer(p, row.type);
      break;
    case FieldRole::x:
    case FieldRole::y:
    case FieldRole::z:
      p = read_coordinate(p, number_end, row.position[int(columns_.roles[k]) - int(FieldRole::x)]);
      break;
    case FieldRole::image_x:
    case FieldRole::image_y:
    case FieldRole::image_z:
      p = read_integer(p, row.image[int(columns_.roles[k]) - int(FieldRole::image_x)]);
      break;
    }
    if (p == nullptr || !(is_blank(*p) || *p == '\n')) {
      bad = k;
      return nullptr;
    }
  }
  while (is_blank(*p))
    ++p;
  if (*p != '\n') p = static_cast<const char*>(std::memchr(p, '\n', window_.end() - p));
  return p + 1;
}

std::unexpected<BodyError> DumpParser::row_error(const char* line, std::size_t bad) const {
  const char* stop = static_cast<const char*>(std::memchr(line, '\n', window_.end() - line));
  const auto words = split_words({line, static_cast<std::size_t>(stop - line)});
  if (bad >= words.size())
    return fail("the row has " + std::to_string(words.size()) + " fields where the header names " +
                std::to_string(columns_.names.size()) + " columns");
  const FieldRole role = columns_.roles[bad];
  const bool whole = role == FieldRole::id || role == FieldRole::type || role >= FieldRole::image_x;
  return fail(quoted(words[bad]) + " in column '" + columns_.names[bad] + "' is not " +
              (whole ? "an integer" : "a number"));
}

std::unexpected<BodyError> DumpParser::not_finite(std::int64_t id, const double* position,
                                                  std::size_t line) const {
  std::string values;
  for (int axis = 0; axis < 3; ++axis)
    values.append(axis ? ", " : "").append(format_scientific(position[axis]));
  return fail("atom id " + std::to_string(id) + " is at (" + values +
                  "), not a finite position (LAMMPS writes such once a run blows up)",
              line);
}

// Reads up to `count` rows, handing each to place(row, line); returns how
// many were read (fewer when the text ends first).
template <class Place> Outcome<std::size_t> DumpParser::read_rows(std::size_t count, Place place) {
  const char* p = window_.begin();
  Row row{};
  for (std::size_t i = 0; i < count; ++i) {
    if (p == window_.end()) {
      window_.consume_to(p);
      auto more = window_.extend();
      if (!more) return std::unexpected(std::move(more.error()));
      if (!*more) return i;
      p = window_.begin();
    }
    std::size_t bad = 0;
    const char* next = parse_row(p, window_.end() + TextWindow::padding / 2, row, bad);
    ++line_;
    const char* const line_end =
        next != nullptr ? next
                        : static_cast<const char*>(std::memchr(p, '\n', window_.end() - p)) + 1;
    // The last line of a file still being written is incomplete, not wrong.
    if (line_end == window_.end() && window_.last_line_unfinished()) {
      window_.consume_to(line_end);
      return i;
    }
    if (next == nullptr) {
      window_.consume_to(p);
      if (std::string_view(p, static_cast<std::size_t>(line_end - p)).starts_with("ITEM:"))
        return fail("an item line after " + std::to_string(i) + " of the frame's " +
                    std::to_string(count) +
                    " atom rows: it holds fewer atoms than its NUMBER "
                    "OF ATOMS says");
      return row_error(p, bad);
    }
    if (auto placed = place(row); !placed) {
      window_.consume_to(next);
      return std::unexpected(std::move(placed.error()));
    }
    p = next;
    if (poll_()) return interrupted();
  }
  window_.consume_to(p);
  return count;
}

Outcome<void> DumpParser::take_first_frame(const FrameHeader& header, const TypeSelection& types) {
  auto columns = atom_columns(header.columns);
  if (!columns) return fail(std::move(columns.error()), header.columns_line);
  columns_ = std::move(*columns);
  first_columns_ = header.columns;
  if (auto box = check_box(header); !box) return box;
  if (header.atoms == 0) return fail("the first frame holds no atoms", header.columns_line);

  const CoordinateMap map(columns_, header.box);
  const auto atoms = static_cast<std::size_t>(header.atoms);
  std::vector<std::int64_t> ids, kinds;
  std::vector<double> positions;
  // The count is the text's word: room for no more rows than the text could
  // hold (a row is at least ten bytes), so that a garbled count ends as a
  // frame cut short rather than as an allocation of its size.
  const std::uint64_t rows_held =
      std::max<std::uint64_t>(window_.source().estimated_text_size() / 10, 4096);
  const auto room = static_cast<std::size_t>(std::min<std::uint64_t>(atoms, rows_held));
  ids.reserve(room);
  kinds.reserve(room);
  positions.reserve(3 * room);
  auto rows = read_rows(atoms, [&](const Row& row) -> Outcome<void> {
    ids.push_back(row.id);
    kinds.push_back(row.type);
    positions.resize(positions.size() + 3);
    map.apply(row, positions.data() + positions.size() - 3);
    return {};
  });
  if (!rows) return std::unexpected(std::move(rows.error()));
  if (*rows < atoms)
    return std::unexpected(
        BodyError{ErrorKind::value_error, std::string(path_) +
                                              ": the text ends inside the first frame "
                                              "(timestep " +
                                              std::to_string(header.timestep) + ", after " +
                                              std::to_string(*rows) + " of " +
                                              std::to_string(atoms) + " atoms)"});
  if (auto duplicate = index_.build(ids); duplicate)
    return fail("atom id " + std::to_string(ids[*duplicate]) + " appears twice in the frame",
                header.columns_line + 1 + *duplicate);
  atoms_ = atoms;

  // Atoms kept, in id order.
  const auto& sorted = index_.sorted_rows(); // row of each atom index
  kept_slot_.assign(atoms, -1);
  for (std::size_t atom = 0; atom < atoms; ++atom) {
    const std::size_t row = sorted[atom];
    const bool kept = !types || std::find(types->begin(), types->end(), kinds[row]) != types->end();
    if (!kept) continue;
    kept_slot_[atom] = static_cast<std::int32_t>(kept_ids_.size());
    kept_ids_.push_back(ids[row]);
    kept_types_.push_back(kinds[row]);
  }
  if (kept_ids_.empty()) {
    std::vector<std::int64_t> present(kinds);
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    std::string listed;
    for (const auto type : present)
      listed.append(listed.empty() ? "" : ", ").append(std::to_string(type));
    return std::unexpected(
        BodyError{ErrorKind::value_error, std::string(path_) +
                                              ": no atom of the selected types in "
                                              "the first frame (types present: " +
                                              listed + ")"});
  }

  // Room for the frames the text will hold, judged by the first one's size.
  const std::size_t kept = kept_ids_.size();
  const std::size_t frame_bytes = kept * 3 * sizeof(double);
  const std::size_t per_block =
      std::clamp<std::size_t>(gather_bytes / frame_bytes, 1, most_frames_per_block);
  const std::uint64_t text_size = window_.source().estimated_text_size();
  const std::uint64_t first_size = window_.offset();
  std::size_t frames = 2 * per_block;
  if (text_size > first_size && first_size > 0) {
    const std::uint64_t estimate = (text_size + first_size - 1) / first_size;
    frames = static_cast<std::size_t>(estimate + estimate / 64 + 2);
  }
  const std::uint64_t bytes = std::uint64_t{frames} * frame_bytes;
  const std::uint64_t available = available_memory_bytes();
  if (bytes > available) return memory_refused(frames, bytes, available);
  store_ = std::make_unique<TimeMajorStore>(kept * 3, per_block, frames);

  double* const table = store_->next_frame().data();
  for (std::size_t atom = 0; atom < atoms; ++atom) {
    const std::int32_t slot = kept_slot_[atom];
    if (slot < 0) continue;
    const double* const position = positions.data() + 3 * sorted[atom];
    if (!finite_position(position))
      return not_finite(kept_ids_[std::size_t(slot)], position,
                        header.columns_line + 1 + sorted[atom]);
    std::copy_n(position, 3, table + 3 * std::size_t(slot));
  }
  seen_.assign(atoms, 0);
  if (columns_.unwrapped_by_jumps()) {
    last_read_.assign(table, table + 3 * kept);
    last_unwrapped_ = last_read_;
    notes_.push_back(std::string(path_) +
                     ": wrapped positions without image flags, unwrapped by the smallest jump "
                     "between consecutive frames");
  }
  record_frame(header);
  return {};
}

// False when the frame was cut short by the end of the text.
Outcome<bool> DumpParser::take_frame(const FrameHeader& header) {
  if (header.columns != first_columns_)
    return fail("the atom columns (" + header.columns + ") differ from the first frame's (" +
                    first_columns_ + ")",
                header.columns_line);
  if (static_cast<std::uint64_t>(header.atoms) != atoms_)
    return fail(std::to_string(header.atoms) + " atoms where the first frame has " +
                    std::to_string(atoms_) + "; every frame must hold the same atoms",
                header.columns_line);
  if (auto box = check_box(header); !box) return std::unexpected(std::move(box.error()));
  if (auto room = make_room(); !room) return std::unexpected(std::move(room.error()));

  const CoordinateMap map(columns_, header.box);
  double* const table = store_->next_frame().data();
  const std::uint32_t mark = ++frame_mark_;
  auto rows = read_rows(atoms_, [&](const Row& row) -> Outcome<void> {
    const std::int64_t atom = index_.find(row.id);
    if (atom < 0) return fail("atom id " + std::to_string(row.id) + " is not in the first frame");
    if (seen_[atom] == mark)
      return fail("atom id " + std::to_string(row.id) + " appears twice in the frame");
    seen_[atom] = mark;
    const std::int32_t slot = kept_slot_[atom];
    if (slot < 0) return {};
    if (row.type != kept_types_[std::size_t(slot)] && changed_types_++ == 0)
      first_changed_type_ = "atom id " + std::to_string(row.id) + " at timestep " +
                            std::to_string(header.timestep) + ", type " +
                            std::to_string(kept_types_[std::size_t(slot)]) + " -> " +
                            std::to_string(row.type);
    double* const position = table + 3 * std::size_t(slot);
    map.apply(row, position);
    if (!finite_position(position)) return not_finite(row.id, position);
    return {};
  });
  if (!rows) return std::unexpected(std::move(rows.error()));
  if (*rows < atoms_) {
    note_cut_short(header, *rows);
    return false;
  }
  // A run restarted with its dump appended writes its first frame, the state
  // the last one left, again: the repeat is read (and checked) but not kept.
  if (header.timestep == timesteps_.back()) {
    ++repeated_frames_;
    return true;
  }
  record_frame(header);
  return true;
}

void DumpParser::note_cut_short(const FrameHeader& header, std::size_t rows) {
  notes_.push_back(std::string(path_) + ": the last frame (timestep " +
                   std::to_string(header.timestep) + ") ends after " + std::to_string(rows) +
                   " of " + std::to_string(atoms_) + " atoms at line " + std::to_string(line_) +
                   "; it was dropped");
}

void DumpParser::note_header_cut_short(const FrameHeader& header) {
  const std::string frame =
      header.has_timestep ? "the last frame (timestep " + std::to_string(header.timestep) + ")"
                          : "the frame after timestep " + std::to_string(timesteps_.back());
  notes_.push_back(std::string(path_) + ": " + frame + " ends inside its header at line " +
                   std::to_string(line_) + "; it was dropped");
}

void DumpParser::record_frame(const FrameHeader& header) {
  timesteps_.push_back(header.timestep);
  boxes_.push_back(header.box);
  if (store_->finish_frame()) {
    if (columns_.unwrapped_by_jumps()) unwrap_block();
    store_->flush();
  }
}

// Before a frame is gathered, the rows must have room for the block it
// completes: growing them is where memory can run out.
Outcome<void> DumpParser::make_room() {
  const std::size_t needed = store_->frames() + store_->frames_per_block();
  if (needed <= store_->capacity()) return {};
  const std::size_t capacity = store_->capacity();
  const std::size_t grown = capacity + capacity / 2 + store_->frames_per_block();
  const std::uint64_t frame_bytes = kept_ids_.size() * 3 * sizeof(double);
  const std::uint64_t available = available_memory_bytes();
  if ((grown - capacity) * frame_bytes > available)
    return memory_refused(grown, grown * frame_bytes, available + capacity * frame_bytes);
  store_->reserve(grown);
  return {};
}

// The crossings of wrapped positions, from the smallest jump between each
// frame and the one before (in the later frame's box).
void DumpParser::unwrap_block() {
  const std::size_t values = last_read_.size();
  const std::size_t first_frame = store_->frames();
  for (std::size_t b = 0; b < store_->frames_in_block(); ++b) {
    const std::size_t frame = first_frame + b;
    if (frame == 0) continue;
    const Box& box = boxes_[frame];
    const std::span<double> table = store_->block_frame(b);
    for (std::size_t i = 0; i < values; ++i) {
      const double edge = box.edge[i % 3];
      const double read = table[i];
      double jump = read - last_read_[i];
      jump -= edge * std::nearbyint(jump / edge);
      if (std::fabs(jump) > edge / 3.0 && large_jumps_++ == 0)
        first_large_jump_ = "atom id " + std::to_string(kept_ids_[i / 3]) + " between timesteps " +
                            std::to_string(timesteps_[frame - 1]) + " and " +
                            std::to_string(timesteps_[frame]);
      const double unwrapped = last_unwrapped_[i] + jump;
      last_read_[i] = read;
      last_unwrapped_[i] = unwrapped;
      table[i] = unwrapped;
    }
  }
}

Outcome<DumpArrays> DumpParser::read(const TypeSelection& types) {
  FrameHeader header;
  auto first = read_header(header);
  if (!first) return std::unexpected(std::move(first.error()));
  if (*first != HeaderEnd::frame)
    return std::unexpected(
        BodyError{ErrorKind::value_error,
                  std::string(path_) + (*first == HeaderEnd::end_of_text
                                            ? ": no frame: the text holds no ITEM: lines"
                                            : ": the text ends inside the first frame's header")});
  if (auto taken = take_first_frame(header, types); !taken)
    return std::unexpected(std::move(taken.error()));
  for (;;) {
    auto next = read_header(header);
    if (!next) return std::unexpected(std::move(next.error()));
    if (*next == HeaderEnd::end_of_text) break;
    if (*next == HeaderEnd::cut_short) {
      note_header_cut_short(header);
      break;
    }
    auto taken = take_frame(header);
    if (!taken) return std::unexpected(std::move(taken.error()));
    if (!*taken) break;
  }
  if (repeated_frames_ > 0)
    notes_.push_back(std::string(path_) + ": " + std::to_string(repeated_frames_) +
                     (repeated_frames_ == 1 ? " frame repeats" : " frames repeat") +
                     " the timestep of the frame before (a restarted run writes its first frame "
                     "again); the repeats were left out");
  if (window_.source().compressed_data_cut_short())
    notes_.push_back(std::string(path_) +
                     ": the compressed data ends before the gzip trailer; the text up to "
                     "there was read");
  if (columns_.unwrapped_by_jumps() && store_->frames_in_block() > 0) unwrap_block();
  if (changed_types_ > 0)
    warnings_.push_back(
        std::string(path_) + ": " + std::to_string(changed_types_) +
        " rows give an atom another type than the first frame did (first: " + first_changed_type_ +
        "); the groups hold the atoms of the first frame's types throughout");
  if (large_jumps_ > 0)
    warnings_.push_back(std::string(path_) + ": " + std::to_string(large_jumps_) +
                        " moves of more than a third of the box between consecutive frames "
                        "(first: " +
                        first_large_jump_ +
                        "); unwrapping by the smallest jump may have missed crossings there: "
                        "dump image flags (ix iy iz) or unwrapped positions (xu yu zu)");

  DumpArrays out;
  out.positions = store_->finish();
  const std::size_t frames = timesteps_.size();
  const std::size_t kept = kept_ids_.size();
  out.timesteps = NativeArray<std::int64_t>({frames});
  std::copy_n(timesteps_.data(), frames, out.timesteps.data());
  out.ids = NativeArray<std::int64_t>({kept});
  std::copy_n(kept_ids_.data(), kept, out.ids.data());
  out.types = NativeArray<std::int64_t>({kept});
  std::copy_n(kept_types_.data(), kept, out.types.data());
  out.volumes = NativeArray<double>({frames});
  out.edges = NativeArray<double>({frames, 3});
  out.tilts = NativeArray<double>({frames, 3});
  for (std::size_t f = 0; f < frames; ++f) {
    const Box& box = boxes_[f];
    out.volumes.data()[f] = box.edge[0] * box.edge[1] * box.edge[2];
    std::copy_n(box.edge, 3, out.edges.data() + 3 * f);
    std::copy_n(box.tilt, 3, out.tilts.data() + 3 * f);
  }
  out.notes = std::move(notes_);
  out.warnings = std::move(warnings_);
  return out;
}

} // namespace

Outcome<DumpArrays> read_lammps_dump(std::string_view path, const TypeSelection& types) {
  auto source = ByteSource::open(path);
  if (!source) return std::unexpected(std::move(source.error()));
  try {
    DumpParser parser(path, std::move(*source));
    return parser.read(types);
  } catch (const std::bad_alloc&) {
    return std::unexpected(BodyError{ErrorKind::memory_error,
                                     std::string(path) + ": not enough memory to read the dump"});
  }
}

} // namespace vexa::trajectory
