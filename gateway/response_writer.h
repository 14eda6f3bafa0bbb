#pragma once
// The one writer of the response. Pages are written line by line; each line
// is a concatenation of pieces and ends in CR LF. The writer buffers lines and
// hands them to the output descriptor in large writes, yet the bytes of every
// response, on a regular file or a pipe, are exactly those of one write per
// line: the error page's rewind and cut act as they would on unbuffered output.
//
// A resident process holds each response whole (HoldWhole) and hands it to
// the web server when the request is done: the error page's rewind then
// drops everything before it, as on a regular file.
//
// Safe by default: a piece made from a string literal is written as it
// stands (the constructor is consteval, so a char array filled at run time
// cannot pass for one); a piece made from any other text (request or store
// values) is HTML-escaped. Operator text from the settings and list files,
// which may hold markup on purpose, must be wrapped in Trusted{...}: writing
// a value unescaped is always a visible step.
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace qb {

// Text the site operator wrote (settings, category and banner lists), or
// text the program composed from trusted pieces: written unescaped.
struct Trusted {
  std::string_view text;
};

class Piece {
 public:
  template <std::size_t N>
  consteval Piece(const char (&literal)[N]) : text_(literal, N - 1), escape_(false) {}  // NOLINT
  Piece(Trusted trusted) : text_(trusted.text), escape_(false) {}                       // NOLINT
  Piece(const std::string& value) : text_(value), escape_(true) {}                      // NOLINT
  Piece(std::string_view value) : text_(value), escape_(true) {}                        // NOLINT

  std::string_view Text() const { return text_; }
  bool Escaped() const { return escape_; }

 private:
  std::string_view text_;
  bool escape_;
};

// Chooses the writer that keeps the whole response in memory.
struct HoldWhole {};

class ResponseWriter {
 public:
  // A write of kFlushSize and the line that reached it (kLineAllowance)
  // fits an empty pipe of Linux's default 64 KiB, so the program hands a
  // page over without waiting for the server to read the previous part.
  static constexpr std::size_t kFlushSize = 48 * 1024;
  // Room for the line that takes the buffer past kFlushSize; a longer line
  // just grows it.
  static constexpr std::size_t kLineAllowance = 16 * 1024;
  // A held response starts with room for the largest usual page (the list
  // of all ads, some 146 KB), so that it is never copied to a larger buffer
  // as it grows; memory is only touched as far as the page is written.
  static constexpr std::size_t kHeldSize = 256 * 1024;

  // The buffer is allocated once at its working size: growing it by doubling
  // would copy the page several times and touch twice the memory, and fresh
  // memory pages are a measurable part of a request (bench/RESULTS.md).
  explicit ResponseWriter(int fd) : fd_(fd) { Grow(kFlushSize + kLineAllowance); }
  explicit ResponseWriter(HoldWhole) : fd_(-1) { Grow(kHeldSize); }
  ~ResponseWriter() { Flush(); }
  ResponseWriter(const ResponseWriter&) = delete;
  ResponseWriter& operator=(const ResponseWriter&) = delete;

  // One page line: the pieces, then CR LF.
  void SendLine(std::initializer_list<Piece> pieces);
  // Whole lines as an earlier response had them (the pieces written and
  // escaped, each line ended), written again as they stand.
  void SendWritten(std::string_view lines);
  // The CGI status line that only the error pages send.
  void SendStatusOk();
  // The header every page starts with: "Content-type: text/html", LF, LF,
  // then the CR LF every line ends with, which opens the page body.
  void SendContentType();

  // Writes out what is buffered (a writer that holds the response whole
  // keeps it). Write failures are not reported: a lost
  // connection loses the rest of the page, and the request goes on.
  void Flush();

  // Moves the output back to its start, as the gateway error page does, so the
  // page replaces what the request wrote when the output is a regular file.
  // On a pipe the move fails and what was written stays in front.
  void Rewind();
  // Cuts the output after what has been written (regular files only).
  void CutHere();

  // The response so far, when the writer holds it whole.
  std::string_view Held() const { return {buffer_.get(), size_}; }

 private:
  // Where the next `room` bytes may be written, the buffer grown if need be.
  char* Room(std::size_t room) {
    if (capacity_ - size_ < room) Grow(size_ + room);
    return buffer_.get() + size_;
  }
  void Append(std::string_view text);
  void Grow(std::size_t least);
  void WriteAll(const char* data, std::size_t size);
  int fd_;
  // Lines are written straight into the buffer (escaping included), which is
  // not cleared first: only what the page writes is ever touched.
  std::unique_ptr<char[]> buffer_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace qb
