#include "gateway/value_list_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "gateway/qb_error.h"

namespace qb {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Room for the first read: the usual settings and list files are a few
// hundred bytes.
constexpr std::size_t kFirstRead = 1024;

}  // namespace

ValueListReader ValueListReader::FromFile(const std::string& path, const std::string& displayName,
                                          std::vector<FileStamp>* stamps) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw QbError(kErrFileNotFound, "File not found: " + displayName);
  // The status is taken only for a stamp: a CGI process, which asks for
  // none, reads the file with open, one read and close.
  struct stat st {};
  const bool known = stamps != nullptr && ::fstat(fd, &st) == 0;
  if (!known) st = {};
  // Read straight into the text. The site's files are regular files, whose
  // read comes back short only at their end, so a read that does not fill
  // the room is the last; a file larger than the room (or one that grew
  // since its size was taken) takes more reads.
  std::size_t room = kFirstRead;
  if (known && static_cast<std::size_t>(st.st_size) >= room) room = static_cast<std::size_t>(st.st_size) + 1;
  std::string content(room, '\0');
  std::size_t used = 0;
  for (;;) {
    ssize_t n = ::read(fd, content.data() + used, content.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      throw QbError(kErrFileNotFound, "File could not be read: " + displayName);
    }
    used += static_cast<std::size_t>(n);
    if (used < content.size()) break;
    content.resize(content.size() * 2);
  }
  ::close(fd);
  content.resize(used);
  // Some editors start a UTF-8 file with a byte-order mark: it belongs to no
  // value.
  if (content.starts_with("\xEF\xBB\xBF")) content.erase(0, 3);
  // A file whose status is unknown is never found unchanged.
  if (stamps != nullptr) stamps->push_back(FileStamp{path, st});
  return ValueListReader(std::move(content), displayName);
}

ValueListReader::ValueListReader(std::string content, std::string displayName)
    : content_(std::move(content)), displayName_(std::move(displayName)) {}

std::string ValueListReader::NextText() {
  const std::size_t size = content_.size();
  while (pos_ < size && IsBlank(content_[pos_])) ++pos_;
  if (pos_ >= size) throw QbError(kErrPastEndOfFile, "Input past end of file: " + displayName_);

  auto consumeSeparator = [&] {
    if (pos_ >= size) return;
    if (content_[pos_] == ',') {
      ++pos_;
    } else if (content_[pos_] == '\r') {
      ++pos_;
      if (pos_ < size && content_[pos_] == '\n') ++pos_;
    } else if (content_[pos_] == '\n') {
      ++pos_;
    }
  };

  if (content_[pos_] == '"') {
    std::size_t close = content_.find('"', pos_ + 1);
    if (close == std::string::npos) close = size;  // an unclosed quote runs to the end
    std::string value = content_.substr(pos_ + 1, close - pos_ - 1);
    pos_ = close < size ? close + 1 : size;
    // Anything between the closing quote and the separator is dropped.
    while (pos_ < size && content_[pos_] != ',' && !IsLineEnd(content_[pos_])) ++pos_;
    consumeSeparator();
    return value;
  }

  std::size_t start = pos_;
  while (pos_ < size && content_[pos_] != ',' && !IsLineEnd(content_[pos_])) ++pos_;
  std::size_t end = pos_;
  while (end > start && IsBlank(content_[end - 1])) --end;
  std::string value = content_.substr(start, end - start);
  consumeSeparator();
  return value;
}

std::int32_t ValueListReader::NextNumber() {
  std::string text = NextText();
  bool overflow = false;
  std::int64_t n =
      LeadingNumber(text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), overflow);
  if (overflow) throw QbError(kErrOverflow, "Overflow: the number " + text + " in " + displayName_ + " is too large");
  return static_cast<std::int32_t>(n);
}

std::int64_t LeadingNumber(std::string_view text, std::int64_t min, std::int64_t max, bool& overflow) {
  overflow = false;
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // A whole number of up to 18 significant digits (the usual case: a count
  // of days or banners) is exact in 64 bits and needs no rounding.
  std::size_t end = i;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  if (end > i && (end == text.size() || text[end] != '.')) {
    std::size_t first = i;
    while (first + 1 < end && text[first] == '0') ++first;
    if (end - first <= 18) {
      std::int64_t value = 0;
      for (std::size_t k = first; k < end; ++k) value = value * 10 + (text[k] - '0');
      if (negative) value = -value;
      overflow = value < min || value > max;
      return overflow ? 0 : value;
    }
  }
  // Otherwise collect the plain decimal form (digits, optional fraction) and
  // let the C library convert it, so that halves are exact before rounding.
  std::string number;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) number += text[i];
  bool digits = !number.empty();
  if (i < text.size() && text[i] == '.') {
    number += '.';
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      number += text[i];
      digits = true;
    }
  }
  if (!digits) return 0;
  if (number.front() == '.') number.insert(number.begin(), '0');
  long double value = std::strtold(number.c_str(), nullptr);
  long double rounded = std::nearbyint(value);  // default rounding: half to even
  if (negative) rounded = -rounded;
  if (rounded < static_cast<long double>(min) || rounded > static_cast<long double>(max)) {
    overflow = true;
    return 0;
  }
  return static_cast<std::int64_t>(rounded);
}

}  // namespace qb
