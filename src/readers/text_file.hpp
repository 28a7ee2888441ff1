// Whole-file reads for the readers, with the common error form
// "{path}: {err}".
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "common/outcome.hpp"

namespace vexa::readers {

// Bytes from malloc: a buffer that grows while a stream is read is
// reallocated in place where the system can, and a failed allocation is an
// answer rather than an exception (also under the memory checkers).
struct FreeBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};
using Bytes = std::unique_ptr<char, FreeBytes>;

// What one pass over a text finds besides its validity.
struct TextCensus {
  std::size_t line_feeds;
  std::size_t hash_end; // one past the last '#', 0 when there is none
};

// The whole content of a file, checked to be valid UTF-8, with its census
// (taken in the same pass).
class FileText {
public:
  FileText(Bytes bytes, std::size_t size, TextCensus census)
      : bytes_(std::move(bytes)), size_(size), census_(census) {}
  std::string_view text() const { return {bytes_.get(), size_}; }
  const TextCensus& census() const { return census_; }

private:
  Bytes bytes_;
  std::size_t size_;
  TextCensus census_;
};

// Reads the file named by path (relative to the working directory unless
// absolute). Failures are OSError values whose message is the path, ": ",
// then the reason ("{description} (os error {code})" for system errors);
// OSError "{path}: {description} (os error {code})" for a failed system call.
BodyError system_error(std::string_view path, int code);

// MemoryError "{path}: not enough memory to read {n} bytes"; or the end the
// caller asked for while waiting or reading.
Outcome<FileText> read_text_file(std::string_view path);

// OSError "{path}: {description} (os error {code})" for a failed system call.
BodyError system_error(std::string_view path, int code);

// MemoryError "{path}: not enough memory to {doing} {bytes} bytes".
BodyError out_of_memory(std::string_view path, std::string_view doing, std::size_t bytes);

// Reads the file and hands its text to parse(text, path), and the text's
// census as a third argument when parse takes one. Running out of memory
// while parsing is reported, as while reading, with the file's name.
template <class Parse> auto parse_file(std::string_view path, Parse parse) {
  const auto run = [&](const FileText& file) {
    if constexpr (std::is_invocable_v<Parse, std::string_view, std::string_view, TextCensus>)
      return parse(file.text(), path, file.census());
    else
      return parse(file.text(), path);
  };
  using Result = decltype(run(std::declval<const FileText&>()));
  auto file = read_text_file(path);
  if (!file) return Result(std::unexpected(std::move(file.error())));
  try {
    return run(*file);
  } catch (const std::bad_alloc&) {
    return Result(std::unexpected(out_of_memory(path, "parse", file->text().size())));
  }
}

// A file read a block at a time and handed out as runs of whole lines, so
// that a large file is parsed from a buffer that stays small (and in the
// processor's cache) instead of from a copy of all of it.
class LineBlocks {
public:
  // Opens the file; failures as read_text_file's.
  static Outcome<LineBlocks> open(std::string_view path);
  LineBlocks(LineBlocks&&) noexcept;
  ~LineBlocks();

  // The next run of whole lines, ending with a line feed except for a last
  // line without one; nothing once the file is read. The view lasts until
  // the next call. Every run is valid UTF-8: a file holding anything else is
  // read to its end (a failure of reading takes precedence) and then
  // reported as read_text_file reports it.
  Outcome<std::optional<std::string_view>> next();

  // The size of a regular file, 0 for a stream of unknown length.
  std::size_t size() const { return size_; }
  // Bytes read so far.
  std::size_t bytes_read() const { return bytes_read_; }
  std::string_view path() const { return path_; }

private:
  LineBlocks(std::string path, int fd, std::size_t size);
  // Appends what one read gives; false at the end of the file.
  Outcome<bool> read_more();

  std::string path_;
  int fd_;
  std::size_t size_;
  Bytes bytes_;
  std::size_t capacity_ = 0;
  std::size_t begin_ = 0; // the bytes not handed out yet
  std::size_t end_ = 0;
  std::size_t bytes_read_ = 0;
  bool at_end_ = false;
};

// Reads the file a block at a time into the columns make(file size) gives
// (0: size unknown): columns.add(lines) takes each run of whole lines, false
// when the caller asked the call to end, and columns.finish(path) gives the
// result. Running out of memory is reported with the file's name.
template <class Make> auto parse_in_blocks(std::string_view path, Make make) {
  using Result = decltype(std::move(make(std::size_t{})).finish(path));
  auto blocks = LineBlocks::open(path);
  if (!blocks) return Result(std::unexpected(std::move(blocks.error())));
  try {
    auto columns = make(blocks->size());
    for (;;) {
      auto lines = blocks->next();
      if (!lines) return Result(std::unexpected(std::move(lines.error())));
      if (!*lines) break;
      if (!columns.add(**lines)) return Result(interrupted());
    }
    return std::move(columns).finish(path);
  } catch (const std::bad_alloc&) {
    const std::size_t bytes = std::max(blocks->size(), blocks->bytes_read());
    return Result(std::unexpected(out_of_memory(path, "parse", bytes)));
  }
}

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points beyond U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The census of the bytes when they are well-formed UTF-8, nothing
// otherwise.
std::optional<TextCensus> take_utf8_census(std::string_view bytes);

} // namespace vexa::readers
