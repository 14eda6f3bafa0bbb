#include "gateway/response_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "gateway/html_escape.h"

namespace qb {

// A piece is escaped in parts of this size at most, so that the room set
// aside for its worst case stays small whatever its length.
constexpr std::size_t kEscapedPart = 16 * 1024;

void ResponseWriter::SendLine(std::initializer_list<Piece> pieces) {
  for (const Piece& piece : pieces) {
    std::string_view text = piece.Text();
    if (!piece.Escaped()) {
      Append(text);
      continue;
    }
    while (!text.empty()) {
      const std::string_view part = text.substr(0, kEscapedPart);
      char* const at = Room(part.size() * kMostEscapedPerByte);
      size_ += static_cast<std::size_t>(CopyHtmlEscaped(at, part) - at);
      text.remove_prefix(part.size());
    }
  }
  Append("\r\n");
  if (size_ >= kFlushSize) Flush();
}

void ResponseWriter::SendWritten(std::string_view lines) {
  Append(lines);
  if (size_ >= kFlushSize) Flush();
}

void ResponseWriter::Append(std::string_view text) {
  if (text.empty()) return;  // an empty view may have no data at all, which memcpy must not be given
  std::memcpy(Room(text.size()), text.data(), text.size());
  size_ += text.size();
}

void ResponseWriter::Grow(std::size_t least) {
  const std::size_t capacity = std::max(least, 2 * capacity_);
  auto grown = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(grown.get(), buffer_.get(), size_);
  buffer_ = std::move(grown);
  capacity_ = capacity;
}

void ResponseWriter::SendStatusOk() { SendLine({"Status: 200 OK"}); }

void ResponseWriter::SendContentType() { SendLine({"Content-type: text/html\n\n"}); }

void ResponseWriter::Flush() {
  if (size_ == 0 || fd_ < 0) return;
  WriteAll(buffer_.get(), size_);
  size_ = 0;
}

void ResponseWriter::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the reader is gone or the disk is full: the rest is lost
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void ResponseWriter::Rewind() {
  if (fd_ < 0) {
    size_ = 0;
    return;
  }
  int flags = ::fcntl(fd_, F_GETFL);
  bool appends = flags >= 0 && (flags & O_APPEND) != 0;
  if (::lseek(fd_, 0, SEEK_SET) == 0 && !appends) {
    // Whatever is still buffered would be overwritten by the page anyway.
    size_ = 0;
  } else {
    Flush();  // a pipe: earlier lines stay in front of what follows
  }
}

void ResponseWriter::CutHere() {
  if (fd_ < 0) return;  // a held response ends where its writing stopped
  Flush();
  off_t position = ::lseek(fd_, 0, SEEK_CUR);
  if (position >= 0) {
    int rc = ::ftruncate(fd_, position);
    (void)rc;  // fails on a pipe, which has nothing to cut
  }
}

}  // namespace qb
