#include "readers/text_file.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
  const FileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) return std::unexpected(system_error(path, errno));

  struct stat info{};
  if (::fstat(file.get(), &info) != 0) return std::unexpected(system_error(path, errno));
  // Room for the whole of a regular file plus one byte, so that the read
  // which reports the end does not force a reallocation. Pipes and special
  // files report no useful size and grow as they are read.
  std::size_t capacity = 4096;
  if (S_ISREG(info.st_mode) && info.st_size > 0)
    capacity = static_cast<std::size_t>(info.st_size) + 1;
  auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
  std::size_t size = 0;
  for (;;) {
    if (size == capacity) {
      const std::size_t grown = capacity * 2;
      auto larger = std::make_unique_for_overwrite<char[]>(grown);
      std::memcpy(larger.get(), bytes.get(), size);
      bytes = std::move(larger);
      capacity = grown;
    }
    const ssize_t n = ::read(file.get(), bytes.get() + size, capacity - size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::unexpected(system_error(path, errno));
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  if (!is_valid_utf8({bytes.get(), size}))
    return std::unexpected(read_error(path, "stream did not contain valid UTF-8"));
  return FileText(std::move(bytes), size);
}

} // namespace vexa::readers
