#include "readers/text_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "common/interruption.hpp"

namespace vexa::readers {
namespace {

BodyError read_error(std::string_view path, std::string_view reason) {
  std::string message;
  message.reserve(path.size() + 2 + reason.size());
  message.append(path).append(": ").append(reason);
  return BodyError{ErrorKind::os_error, std::move(message)};
}

BodyError system_error(std::string_view path, int code) {
  // strerrordesc_np is locale-independent and thread-safe, unlike strerror.
  const char* description = strerrordesc_np(code);
  std::string reason = description != nullptr ? description : "Unknown error";
  reason.append(" (os error ").append(std::to_string(code)).append(")");
  return read_error(path, reason);
}

// One read asks for at most this much, and validation goes in pieces of it.
constexpr std::size_t read_block = std::size_t{4} << 20;

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

BodyError out_of_memory(std::string_view path, std::string_view doing, std::size_t bytes) {
  std::string message(path);
  message.append(": not enough memory to ")
      .append(doing)
      .append(" ")
      .append(std::to_string(bytes))
      .append(" bytes");
  return BodyError{ErrorKind::memory_error, std::move(message)};
}

bool is_valid_utf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    // Most files are ASCII: test eight bytes at a time.
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ULL) != 0) break;
      p += 8;
    }
    if (p == end) break;
    const unsigned char b0 = *p;
    if (b0 < 0x80) {
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
      return false;
    }
    if (static_cast<std::size_t>(end - p) < length) return false;
    if (p[1] < low || p[1] > high) return false;
    for (std::size_t k = 2; k < length; ++k)
      if ((p[k] & 0xC0) != 0x80) return false;
    p += length;
  }
  return true;
}

Outcome<FileText> read_text_file(std::string_view path) {
  if (path.find('\0') != std::string_view::npos)
    return std::unexpected(read_error(path, "file name contained an unexpected NUL byte"));
  const std::string name(path);
  // Opening a FIFO waits for a writer; a signal ends the wait with EINTR.
  int fd;
  while ((fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC)) < 0) {
    if (errno != EINTR) return std::unexpected(system_error(path, errno));
    if (interrupt_requested()) return interrupted();
  }
  const FileDescriptor file(fd);

  struct stat info{};
  if (::fstat(file.get(), &info) != 0) return std::unexpected(system_error(path, errno));
  // Room for the whole of a regular file plus one byte, so that the read
  // which reports the end does not force a reallocation. Pipes and special
  // files report no useful size and grow as they are read.
  std::size_t capacity = 4096;
  if (S_ISREG(info.st_mode) && info.st_size > 0)
    capacity = static_cast<std::size_t>(info.st_size) + 1;
  Bytes bytes;
  if (!allocate(bytes, capacity)) return std::unexpected(out_of_memory(path, "read", capacity - 1));
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      const std::size_t grown = capacity * 2;
      if (!allocate(bytes, grown)) return std::unexpected(out_of_memory(path, "read", grown));
      capacity = grown;
    }
    // Bounded reads, so that the question below comes often even for a
    // huge file or an endless stream.
    const std::size_t wanted = std::min(capacity - size, read_block);
    const ssize_t n = ::read(file.get(), bytes.get() + size, wanted);
    if (n < 0) {
      if (errno != EINTR) return std::unexpected(system_error(path, errno));
      if (interrupt_requested()) return interrupted();
      continue;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
    if (interrupt_requested()) return interrupted();
  }
  const std::string_view text(bytes.get(), size);
  for (std::size_t done = 0; done < size;) {
    if (done != 0 && interrupt_requested()) return interrupted();
    const std::size_t stop = utf8_piece_end(text, done + std::min(size - done, read_block));
    if (!is_valid_utf8(text.substr(done, stop - done)))
      return std::unexpected(read_error(path, "stream did not contain valid UTF-8"));
    done = stop;
  }
  return FileText(std::move(bytes), size);
}

} // namespace vexa::readers
