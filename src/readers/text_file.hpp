// Whole-file reads for the readers, with the common error form
// "{path}: {err}".
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <string_view>

#include "common/outcome.hpp"

namespace vexa::readers {

// Bytes from malloc: a buffer that grows while a stream is read is
// reallocated in place where the system can, and a failed allocation is an
// answer rather than an exception (also under the memory checkers).
struct FreeBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<char, FreeBytes>;

// The whole content of a file, checked to be valid UTF-8.
class FileText {
public:
  FileText(Bytes bytes, std::size_t size) : bytes_(std::move(bytes)), size_(size) {}
  std::string_view text() const { return {bytes_.get(), size_}; }

private:
  Bytes bytes_;
  std::size_t size_;
};

// Reads the file named by path (relative to the working directory unless
// absolute). Failures are OSError values whose message is the path, ": ",
// then the reason ("{description} (os error {code})" for system errors);
// MemoryError "{path}: not enough memory to read {n} bytes"; or the end the
// caller asked for while waiting or reading.
Outcome<FileText> read_text_file(std::string_view path);

// MemoryError "{path}: not enough memory to {doing} {bytes} bytes".
BodyError out_of_memory(std::string_view path, std::string_view doing, std::size_t bytes);

// Reads the file and hands its text to parse(text, path). Running out of
// memory while parsing is reported, as while reading, with the file's name.
template <class Parse>
auto parse_file(std::string_view path, Parse parse) -> decltype(parse(path, path)) {
  auto file = read_text_file(path);
  if (!file) return std::unexpected(std::move(file.error()));
  try {
    return parse(file->text(), path);
  } catch (const std::bad_alloc&) {
    return std::unexpected(out_of_memory(path, "parse", file->text().size()));
  }
}

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

} // namespace vexa::readers
