#include "gateway/response_writer.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "gateway/html_escape.h"

namespace qb {

void ResponseWriter::SendLine(std::initializer_list<Piece> pieces) {
  for (const Piece& piece : pieces) {
    if (piece.Escaped()) {
      AppendHtmlEscaped(buffer_, piece.Text());
    } else {
      buffer_.append(piece.Text());
    }
  }
  buffer_.append("\r\n");
  if (buffer_.size() >= kFlushSize) Flush();
}

void ResponseWriter::SendWritten(std::string_view lines) {
  buffer_.append(lines);
  if (buffer_.size() >= kFlushSize) Flush();
}

void ResponseWriter::SendStatusOk() { SendLine({"Status: 200 OK"}); }

void ResponseWriter::SendContentType() { SendLine({"Content-type: text/html\n\n"}); }

void ResponseWriter::Flush() {
  if (buffer_.empty() || fd_ < 0) return;
  WriteAll(buffer_.data(), buffer_.size());
  buffer_.clear();
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
    buffer_.clear();
    return;
  }
  int flags = ::fcntl(fd_, F_GETFL);
  bool appends = flags >= 0 && (flags & O_APPEND) != 0;
  if (::lseek(fd_, 0, SEEK_SET) == 0 && !appends) {
    // Whatever is still buffered would be overwritten by the page anyway.
    buffer_.clear();
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
