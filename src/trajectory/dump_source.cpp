#include "trajectory/dump_source.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zlib.h>

#include "common/interruption.hpp"
#include "readers/text_file.hpp"

namespace vexa::trajectory {
namespace {

// Compressed bytes read per system call: large enough that calls are few,
// small enough to stay in cache while zlib consumes them.
constexpr std::size_t compressed_block = std::size_t{256} << 10;

BodyError gzip_error(std::string_view path, const char* detail) {
  std::string message(path);
  message.append(": not valid gzip data (").append(detail != nullptr ? detail : "unknown");
  message.append(")");
  return BodyError{ErrorKind::value_error, std::move(message)};
}

} // namespace

struct ByteSource::Inflater {
  z_stream stream{};
  std::unique_ptr<unsigned char[]> input{new unsigned char[compressed_block]};
  bool member_ended = false;
  bool input_ended = false;
  ~Inflater() { inflateEnd(&stream); }
};

ByteSource::ByteSource(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

ByteSource::ByteSource(ByteSource&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)),
      known_text_size_(other.known_text_size_), cut_short_(other.cut_short_),
      inflater_(std::move(other.inflater_)), replay_count_(other.replay_count_) {
  std::memcpy(replay_, other.replay_, sizeof replay_);
}

ByteSource& ByteSource::operator=(ByteSource&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, -1);
    known_text_size_ = other.known_text_size_;
    cut_short_ = other.cut_short_;
    inflater_ = std::move(other.inflater_);
    std::memcpy(replay_, other.replay_, sizeof replay_);
    replay_count_ = other.replay_count_;
  }
  return *this;
}

ByteSource::~ByteSource() {
  if (fd_ >= 0) ::close(fd_);
}

Outcome<ByteSource> ByteSource::open(std::string_view path) {
  if (path.find('\0') != std::string_view::npos)
    return std::unexpected(BodyError{
        ErrorKind::os_error, std::string(path) + ": file name contained an unexpected NUL byte"});
  std::string name(path);
  int fd;
  // Opening a FIFO waits for a writer; a signal ends the wait with EINTR.
  while ((fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return std::unexpected(readers::system_error(path, errno));
    if (interrupt_requested()) return interrupted();
  }
  ByteSource source(std::move(name), fd);
  struct stat info{};
  if (::fstat(fd, &info) != 0) return std::unexpected(readers::system_error(path, errno));
  if (S_ISDIR(info.st_mode)) return std::unexpected(readers::system_error(path, EISDIR));

  // The first two bytes tell gzip apart; they are handed to zlib, or kept as
  // text, either way.
  auto inflater = std::make_unique<Inflater>();
  std::size_t head = 0;
  while (head < 2) {
    auto got = source.read_raw(reinterpret_cast<char*>(inflater->input.get()) + head, 2 - head);
    if (!got) return std::unexpected(std::move(got.error()));
    if (*got == 0) break;
    head += *got;
  }
  const bool gzip = head == 2 && inflater->input[0] == 0x1f && inflater->input[1] == 0x8b;
  if (S_ISREG(info.st_mode)) source.known_text_size_ = static_cast<std::uint64_t>(info.st_size);
  if (gzip) {
    // 15 + 16: a gzip wrapper, the largest window.
    if (inflateInit2(&inflater->stream, 15 + 16) != Z_OK) throw std::bad_alloc();
    inflater->stream.next_in = inflater->input.get();
    inflater->stream.avail_in = static_cast<uInt>(head);
    source.inflater_ = std::move(inflater);
    return source;
  }
  // Plain text: the bytes taken to look are handed out first (a pipe cannot
  // be rewound).
  std::memcpy(source.replay_, inflater->input.get(), head);
  source.replay_count_ = head;
  return source;
}

std::uint64_t ByteSource::estimated_text_size() const {
  if (inflater_ == nullptr) return known_text_size_;
  const z_stream& s = inflater_->stream;
  if (s.total_in == 0) return 0;
  return static_cast<std::uint64_t>(
      static_cast<double>(known_text_size_) *
      (static_cast<double>(s.total_out) / static_cast<double>(s.total_in)));
}

Outcome<std::size_t> ByteSource::read_raw(char* out, std::size_t capacity) {
  for (;;) {
    const ssize_t got = ::read(fd_, out, capacity);
    // Each read is a look for Ctrl-C too: a slow source (a FIFO fed by a
    // running simulation) hands out little at a time and may never end.
    if (got >= 0 && interrupt_requested()) return interrupted();
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return std::unexpected(readers::system_error(path_, errno));
    if (interrupt_requested()) return interrupted();
  }
}

Outcome<std::size_t> ByteSource::read(char* out, std::size_t capacity) {
  if (inflater_ != nullptr) return inflate_into(out, capacity);
  if (replay_count_ == 0 || capacity == 0) return read_raw(out, capacity);
  const std::size_t n = capacity < replay_count_ ? capacity : replay_count_;
  std::memcpy(out, replay_, n);
  std::memmove(replay_, replay_ + n, replay_count_ - n);
  replay_count_ -= n;
  return n;
}

Outcome<std::size_t> ByteSource::inflate_into(char* out, std::size_t capacity) {
  Inflater& z = *inflater_;
  z_stream& s = z.stream;
  s.next_out = reinterpret_cast<unsigned char*>(out);
  s.avail_out = static_cast<uInt>(capacity < (std::size_t{1} << 30) ? capacity : 1u << 30);
  const uInt asked = s.avail_out;
  while (s.avail_out == asked) {
    if (s.avail_in == 0 && !z.input_ended) {
      auto got = read_raw(reinterpret_cast<char*>(z.input.get()), compressed_block);
      if (!got) return std::unexpected(std::move(got.error()));
      s.next_in = z.input.get();
      s.avail_in = static_cast<uInt>(*got);
      z.input_ended = *got == 0;
    }
    if (z.member_ended) {
      // Concatenated members (as `cat a.gz b.gz` makes) read as one text.
      if (s.avail_in == 0) return std::size_t{0};
      if (inflateReset(&s) != Z_OK) return std::unexpected(gzip_error(path_, s.msg));
      z.member_ended = false;
    }
    if (s.avail_in == 0 && z.input_ended) {
      cut_short_ = true;
      break;
    }
    const int status = inflate(&s, Z_NO_FLUSH);
    if (status == Z_STREAM_END) {
      z.member_ended = true;
    } else if (status == Z_MEM_ERROR) {
      throw std::bad_alloc();
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      return std::unexpected(gzip_error(path_, s.msg));
    }
    if (interrupt_requested()) return interrupted();
  }
  return static_cast<std::size_t>(asked - s.avail_out);
}

TextWindow::TextWindow(ByteSource source, std::size_t chunk)
    : source_(std::move(source)), buffer_(nullptr, std::free), capacity_(chunk) {
  char* memory = static_cast<char*>(std::malloc(capacity_ + padding));
  if (memory == nullptr) throw std::bad_alloc();
  buffer_.reset(memory);
  begin_ = complete_end_ = data_end_ = memory;
  std::memset(memory, 0, padding);
}

Outcome<bool> TextWindow::extend() {
  if (finished_) return false;
  char* base = buffer_.get();
  const std::size_t kept = static_cast<std::size_t>(data_end_ - begin_);
  discarded_ += static_cast<std::uint64_t>(begin_ - base);
  if (begin_ != base) std::memmove(base, begin_, kept);
  begin_ = base;
  data_end_ = base + kept;
  std::size_t searched = kept; // bytes known to hold no line feed
  for (;;) {
    if (static_cast<std::size_t>(data_end_ - base) == capacity_) {
      // A line longer than the buffer: a dump never has one, but it is read
      // rather than refused.
      const std::size_t larger = capacity_ * 2;
      const std::size_t filled = static_cast<std::size_t>(data_end_ - base);
      char* moved = static_cast<char*>(std::realloc(base, larger + padding));
      if (moved == nullptr) throw std::bad_alloc();
      (void)buffer_.release();
      buffer_.reset(moved);
      data_end_ = moved + filled;
      begin_ = base = moved;
      capacity_ = larger;
    }
    auto got = source_.read(data_end_, capacity_ - static_cast<std::size_t>(data_end_ - base));
    if (!got) return std::unexpected(std::move(got.error()));
    if (*got == 0) {
      finished_ = true;
      // The padding has room for the line feed a last line may lack.
      added_line_feed_ = data_end_ != begin_ && data_end_[-1] != '\n';
      if (added_line_feed_) *data_end_++ = '\n';
      std::memset(data_end_, 0, padding - 1);
      complete_end_ = data_end_;
      return complete_end_ != begin_;
    }
    data_end_ += *got;
    const void* last =
        ::memrchr(base + searched, '\n', static_cast<std::size_t>(data_end_ - base) - searched);
    if (last != nullptr) {
      complete_end_ = static_cast<const char*>(last) + 1;
      std::memset(data_end_, 0, padding);
      return true;
    }
    searched = static_cast<std::size_t>(data_end_ - base);
  }
}

} // namespace vexa::trajectory
