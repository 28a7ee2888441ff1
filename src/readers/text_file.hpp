// Whole-file reads for the readers, with the common error form
// "{path}: {err}".
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "common/outcome.hpp"

namespace vexa::readers {

// The whole content of a file, checked to be valid UTF-8.
class FileText {
public:
  FileText(std::unique_ptr<char[]> bytes, std::size_t size)
      : bytes_(std::move(bytes)), size_(size) {}
  std::string_view text() const { return {bytes_.get(), size_}; }

private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

// Reads the file named by path (relative to the working directory unless
// absolute). Failures are OSError values whose message is the path, ": ",
// then the reason ("{description} (os error {code})" for system errors).
Outcome<FileText> read_text_file(std::string_view path);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

} // namespace vexa::readers
