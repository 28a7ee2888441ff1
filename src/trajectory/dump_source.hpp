// The bytes of a dump, plain or gzip-compressed, delivered in pieces so that
// a file of any size is read through a buffer of a few megabytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/outcome.hpp"

namespace vexa::trajectory {

class ByteSource {
public:
  // Opens the file; gzip data is recognised by its first two bytes, not by
  // the name. OSError "{path}: {reason} (os error {code})" when it cannot be
  // opened; the caller's interruption while a FIFO waits for its writer.
  static Outcome<ByteSource> open(std::string_view path);

  ByteSource(ByteSource&&) noexcept;
  ByteSource& operator=(ByteSource&&) noexcept;
  ~ByteSource();

  // Reads up to `capacity` bytes of text into out: 0 at the end. A read that
  // a signal breaks asks whether the call must end, then goes on.
  Outcome<std::size_t> read(char* out, std::size_t capacity);

  // Size in bytes of the text: exact for a plain regular file, judged from
  // the compression so far for a gzip one; 0 when unknown (pipes).
  std::uint64_t estimated_text_size() const;
  // True when gzip data ended before its trailer: the text read is all
  // there is.
  bool compressed_data_cut_short() const { return cut_short_; }

private:
  struct Inflater;
  ByteSource(std::string path, int fd);
  Outcome<std::size_t> read_raw(char* out, std::size_t capacity);
  Outcome<std::size_t> inflate_into(char* out, std::size_t capacity);

  std::string path_;
  int fd_ = -1;
  std::uint64_t known_text_size_ = 0; // of a plain file; of the gzip data otherwise
  bool cut_short_ = false;
  std::unique_ptr<Inflater> inflater_;
  char replay_[2] = {};
  std::size_t replay_count_ = 0;
};

// A window over the text that holds whole lines: the part not yet consumed
// is kept and more text is appended behind it. After the text, at least
// `padding` zero bytes are readable, so word-at-a-time number reading never
// runs off the buffer; and the text always ends with a line feed (one is
// added at the end of a file that lacks it).
class TextWindow {
public:
  static constexpr std::size_t padding = 64;

  explicit TextWindow(ByteSource source, std::size_t chunk = std::size_t{4} << 20);

  // Unconsumed whole lines: [begin(), end()), end() just past a line feed.
  // Readable, zero-filled bytes follow up to end() + padding / 2 at least.
  const char* begin() const { return begin_; }
  const char* end() const { return complete_end_; }
  void consume_to(const char* p) { begin_ = p; }

  // Brings in more text so that at least one more whole line is in the
  // window when there is one; false at the end of the text.
  Outcome<bool> extend();

  // Bytes of text consumed so far.
  std::uint64_t offset() const {
    return discarded_ + static_cast<std::uint64_t>(begin_ - buffer_.get());
  }
  // True once the source has no more text: the window holds the rest.
  bool source_finished() const { return finished_; }
  // True when the text did not end with a line feed and one was added: its
  // last line was cut short (every line a program writes ends with one).
  bool last_line_unfinished() const { return added_line_feed_; }
  const ByteSource& source() const { return source_; }

private:
  ByteSource source_;
  std::unique_ptr<char, void (*)(void*)> buffer_;
  std::size_t capacity_;
  const char* begin_;
  char* data_end_;
  const char* complete_end_;
  bool finished_ = false;
  bool added_line_feed_ = false;
  std::uint64_t discarded_ = 0;
};

} // namespace vexa::trajectory
