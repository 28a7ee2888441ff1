#include "readers/text_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "common/interruption.hpp"

namespace vexa::readers {
namespace {

BodyError read_error(std::string_view path, std::string_view reason) {
  std::string message;
  message.reserve(path.size() + 2 + reason.size());
  message.append(path).append(": ").append(reason);
  return BodyError{ErrorKind::os_error, std::move(message)};
}

// One read asks for at most this much: little enough that the piece is
// still in the processor's cache when it is checked.
constexpr std::size_t read_block = std::size_t{1} << 20;

#if defined(__SSE2__)
std::size_t lane_sum(__m128i lanes) {
  const __m128i sums = _mm_sad_epu8(lanes, _mm_setzero_si128());
  return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
         static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
}
#endif

// Resizes bytes to `capacity`, keeping what it holds; false when memory runs
// out (bytes stay as they were).
bool allocate(Bytes& bytes, std::size_t capacity) {
  void* larger = std::realloc(bytes.get(), capacity);
  if (larger == nullptr) return false;
  (void)bytes.release();
  bytes.reset(static_cast<char*>(larger));
  return true;
}

// Where a piece of the text that should end near `stop` ends: not inside a
// character, so that pieces are valid exactly when the whole is. A character
// is at most four bytes long, so at most three continuation bytes are passed.
std::size_t utf8_piece_end(std::string_view text, std::size_t stop) {
  for (int back = 0; back < 3 && stop < text.size() && stop > 0; ++back) {
    if ((static_cast<unsigned char>(text[stop]) & 0xC0) != 0x80) break;
    --stop;
  }
  return stop;
}

class FileDescriptor {
public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

private:
  int fd_;
};

} // namespace

BodyError system_error(std::string_view path, int code) {
  // strerrordesc_np is locale-independent and thread-safe, unlike strerror.
  const char* description = strerrordesc_np(code);
  std::string reason = description != nullptr ? description : "Unknown error";
  reason.append(" (os error ").append(std::to_string(code)).append(")");
  return read_error(path, reason);
}

BodyError out_of_memory(std::string_view path, std::string_view doing, std::size_t bytes) {
  std::string message(path);
  message.append(": not enough memory to ")
      .append(doing)
      .append(" ")
      .append(std::to_string(bytes))
      .append(" bytes");
  return BodyError{ErrorKind::memory_error, std::move(message)};
}

std::optional<TextCensus> take_utf8_census(std::string_view bytes) {
  const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* p = begin;
  const auto* const end = p + bytes.size();
  std::size_t line_feeds = 0;
  const unsigned char* last_hash = nullptr;  // a '#' found byte by byte
  const unsigned char* hash_block = nullptr; // the last block holding one
  while (p < end) {
#if defined(__SSE2__)
    // Most files are ASCII: 64 bytes are tested at a time, and their line
    // feeds counted in byte lanes (a match is −1), summed before a lane can
    // overflow. Blocks holding a '#' are only noted.
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i hash = _mm_set1_epi8('#');
    __m128i lanes = _mm_setzero_si128();
    for (int rounds = 0; end - p >= 64; p += 64) {
      const auto* const block = reinterpret_cast<const __m128i*>(p);
      const __m128i a = _mm_loadu_si128(block);
      const __m128i b = _mm_loadu_si128(block + 1);
      const __m128i c = _mm_loadu_si128(block + 2);
      const __m128i d = _mm_loadu_si128(block + 3);
      if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) != 0) break;
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(a, line_feed));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(b, line_feed));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(c, line_feed));
      lanes = _mm_sub_epi8(lanes, _mm_cmpeq_epi8(d, line_feed));
      const __m128i hashes =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(a, hash), _mm_cmpeq_epi8(b, hash)),
                       _mm_or_si128(_mm_cmpeq_epi8(c, hash), _mm_cmpeq_epi8(d, hash)));
      if (_mm_movemask_epi8(hashes) != 0) hash_block = p;
      if (++rounds == 63) {
        line_feeds += lane_sum(lanes);
        lanes = _mm_setzero_si128();
        rounds = 0;
      }
    }
    line_feeds += lane_sum(lanes);
#endif
    // Character by character through the next 64 bytes at least, so that
    // text that is not ASCII does not retry the wide test at every byte.
    const unsigned char* const slow_until = end - p > 64 ? p + 64 : end;
    while (p < slow_until) {
      const unsigned char b0 = *p;
      if (b0 < 0x80) {
        line_feeds += b0 == '\n' ? 1 : 0;
        if (b0 == '#') last_hash = p;
        ++p;
        continue;
      }
      std::size_t length;
      unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
      if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
      } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) low = 0xA0;  // overlong
        if (b0 == 0xED) high = 0x9F; // surrogates
      } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) low = 0x90;  // overlong
        if (b0 == 0xF4) high = 0x8F; // beyond U+10FFFF
      } else {
        return std::nullopt;
      }
      if (static_cast<std::size_t>(end - p) < length) return std::nullopt;
      if (p[1] < low || p[1] > high) return std::nullopt;
      for (std::size_t k = 2; k < length; ++k)
        if ((p[k] & 0xC0) != 0x80) return std::nullopt;
      p += length;
    }
  }
  if (hash_block != nullptr && (last_hash == nullptr || last_hash < hash_block))
    last_hash = static_cast<const unsigned char*>(::memrchr(hash_block, '#', 64));
  return TextCensus{line_feeds,
                    last_hash == nullptr ? 0 : static_cast<std::size_t>(last_hash + 1 - begin)};
}

bool is_valid_utf8(std::string_view bytes) {
  return take_utf8_census(bytes).has_value();
}

namespace {

// The open file and its size (0 when it is not a regular file: pipes and
// special files report no useful size).
struct OpenFile {
  int fd;
  std::size_t size;
};

Outcome<OpenFile> open_for_reading(std::string_view path) {
  if (path.find('\0') != std::string_view::npos)
    return std::unexpected(read_error(path, "file name contained an unexpected NUL byte"));
  const std::string name(path);
  // Opening a FIFO waits for a writer; a signal ends the wait with EINTR.
  int fd;
  while ((fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return std::unexpected(system_error(path, errno));
    if (interrupt_requested()) return interrupted();
  }
  struct stat info{};
  if (::fstat(fd, &info) != 0) {
    const int code = errno;
    ::close(fd);
    return std::unexpected(system_error(path, code));
  }
  const bool sized = S_ISREG(info.st_mode) && info.st_size > 0;
  return OpenFile{fd, sized ? static_cast<std::size_t>(info.st_size) : 0};
}

// One read of at most `wanted` bytes: how many came (0 at the end),
// retried when a signal interrupts it.
Outcome<std::size_t> read_some(std::string_view path, int fd, char* into, std::size_t wanted) {
  for (;;) {
    const ssize_t n = ::read(fd, into, wanted);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::unexpected(system_error(path, errno));
    if (interrupt_requested()) return interrupted();
  }
}

} // namespace

Outcome<FileText> read_text_file(std::string_view path) {
  auto opened = open_for_reading(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  const FileDescriptor file(opened->fd);
  // Room for the whole of a regular file plus one byte, so that the read
  // which reports the end does not force a reallocation. Other files grow
  // as they are read.
  const std::size_t initial = opened->size != 0 ? opened->size + 1 : 4096;
  std::size_t capacity = initial;
  Bytes bytes;
  if (!allocate(bytes, capacity)) return std::unexpected(out_of_memory(path, "read", capacity - 1));
  // Each piece is checked as soon as it is read, while it is still in the
  // processor's cache. A piece ends at a character's start: the bytes of the
  // last character may still be on their way. A failed check is reported
  // only once the whole file has been read, after any error of reading.
  std::size_t size = 0;
  std::size_t checked = 0;
  TextCensus census{0, 0};
  bool valid = true;
  const auto check = [&](std::size_t stop) {
    if (!valid || stop <= checked) return;
    const auto piece = take_utf8_census({bytes.get() + checked, stop - checked});
    valid = piece.has_value();
    if (valid) {
      census.line_feeds += piece->line_feeds;
      if (piece->hash_end != 0) census.hash_end = checked + piece->hash_end;
    }
    checked = stop;
  };
  for (;;) {
    if (size == capacity) {
      const std::size_t grown = capacity * 2;
      if (!allocate(bytes, grown)) return std::unexpected(out_of_memory(path, "read", grown));
      capacity = grown;
    }
    // Bounded reads, so that the question below comes often even for a
    // huge file or an endless stream.
    const auto n =
        read_some(path, file.get(), bytes.get() + size, std::min(capacity - size, read_block));
    if (!n) return std::unexpected(std::move(n.error()));
    if (*n == 0) break;
    size += *n;
    // A character is at most four bytes long: one that starts three bytes
    // or more before the end has been read whole.
    if (size - checked > 3) check(utf8_piece_end({bytes.get(), size}, size - 3));
    if (interrupt_requested()) return interrupted();
  }
  check(size);
  if (!valid) return std::unexpected(read_error(path, "stream did not contain valid UTF-8"));
  return FileText(std::move(bytes), size, census);
}

} // namespace vexa::readers

namespace vexa::readers {

LineBlocks::LineBlocks(std::string path, int fd, std::size_t size)
    : path_(std::move(path)), fd_(fd), size_(size) {}

LineBlocks::LineBlocks(LineBlocks&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_),
      bytes_(std::move(other.bytes_)), capacity_(other.capacity_), begin_(other.begin_),
      end_(other.end_), bytes_read_(other.bytes_read_), at_end_(other.at_end_) {}

LineBlocks::~LineBlocks() {
  if (fd_ >= 0) ::close(fd_);
}

Outcome<LineBlocks> LineBlocks::open(std::string_view path) {
  auto opened = open_for_reading(path);
  if (!opened) return std::unexpected(std::move(opened.error()));
  LineBlocks blocks(std::string(path), opened->fd, opened->size);
  // A block and room for the line it cuts at its end.
  blocks.capacity_ = read_block + read_block / 4;
  if (!allocate(blocks.bytes_, blocks.capacity_))
    return std::unexpected(out_of_memory(path, "read", blocks.capacity_));
  return blocks;
}

Outcome<bool> LineBlocks::read_more() {
  // The bytes not handed out yet (a line cut by the last read) go first.
  if (begin_ != 0) {
    std::memmove(bytes_.get(), bytes_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (capacity_ - end_ < read_block / 4) {
    // A line longer than the buffer: it grows to hold it.
    const std::size_t grown = capacity_ * 2;
    // Such a line may be the whole file: the file's size is what it needs.
    if (!allocate(bytes_, grown))
      return std::unexpected(out_of_memory(path_, "read", std::max(size_, grown)));
    capacity_ = grown;
  }
  const auto n = read_some(path_, fd_, bytes_.get() + end_, std::min(capacity_ - end_, read_block));
  if (!n) return std::unexpected(std::move(n.error()));
  if (interrupt_requested()) return interrupted();
  end_ += *n;
  bytes_read_ += *n;
  return *n != 0;
}

Outcome<std::optional<std::string_view>> LineBlocks::next() {
  for (;;) {
    const char* const data = bytes_.get();
    const void* last_line_feed =
        end_ > begin_ ? ::memrchr(data + begin_, '\n', end_ - begin_) : nullptr;
    std::size_t stop = end_;
    if (last_line_feed != nullptr) {
      stop = static_cast<std::size_t>(static_cast<const char*>(last_line_feed) - data) + 1;
    } else if (!at_end_ || begin_ == end_) {
      if (at_end_) return std::nullopt;
      auto more = read_more();
      if (!more) return std::unexpected(std::move(more.error()));
      at_end_ = !*more;
      continue;
    }
    const std::string_view lines(data + begin_, stop - begin_);
    begin_ = stop;
    // Lines end at line feeds, never inside a character, so the runs are
    // valid exactly when the whole file is.
    if (!take_utf8_census(lines)) {
      for (;;) {
        begin_ = end_;
        auto more = read_more();
        if (!more) return std::unexpected(std::move(more.error()));
        if (!*more) break;
      }
      return std::unexpected(read_error(path_, "stream did not contain valid UTF-8"));
    }
    return lines;
  }
}

} // namespace vexa::readers
