#include "qbadmin/ad_csv.h"

#include <algorithm>
#include <optional>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "storage/ad_record.h"

namespace qb::admin {
namespace {

using Field = std::optional<std::string>;

void WriteField(std::ostream& out, const Field& field) {
  if (!field) return;
  const std::string& text = *field;
  if (!text.empty() && text.find_first_of(std::string_view(",\"\r\n\0", 5)) == std::string::npos) {
    out << text;
    return;
  }
  out << '"';
  for (const char c : text) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

// Splits CSV text into records of fields, following RFC 4180; a record ends
// at CR LF or LF (or CR), and a line end after the last record is optional.
class CsvParser {
 public:
  CsvParser(std::string_view text, std::string fileName) : text_(text), fileName_(std::move(fileName)) {}

  bool AtEnd() const { return pos_ >= text_.size(); }
  long Line() const { return line_; }

  std::vector<Field> NextRecord() {
    std::vector<Field> fields;
    for (;;) {
      fields.push_back(NextField());
      if (AtEnd()) return fields;
      const char c = text_[pos_++];
      if (c == ',') continue;
      if (c == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
      ++line_;
      return fields;
    }
  }

  [[noreturn]] void Fail(long line, const std::string& what) const {
    throw QbError(kErrTypeMismatch,
                  fileName_ + ", line " + std::to_string(line) + ": " + what + "; nothing was imported");
  }

 private:
  Field NextField() {
    if (AtEnd() || text_[pos_] != '"') {
      const std::size_t end = std::min(text_.find_first_of(",\r\n", pos_), text_.size());
      const std::string_view raw = text_.substr(pos_, end - pos_);
      if (raw.find('"') != std::string_view::npos) Fail(line_, "a double quote in a field that is not quoted");
      pos_ = end;
      if (raw.empty()) return std::nullopt;
      return std::string(raw);
    }
    const long start = line_;
    std::string value;
    for (++pos_;; ++pos_) {
      if (AtEnd()) Fail(start, "a quoted field that is never closed");
      const char c = text_[pos_];
      if (c == '"') {
        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '"') {
          value += '"';
          ++pos_;
          continue;
        }
        ++pos_;
        break;
      }
      if (c == '\n') ++line_;
      value += c;
    }
    if (!AtEnd() && text_[pos_] != ',' && text_[pos_] != '\r' && text_[pos_] != '\n') {
      Fail(line_, "text after the closing quote of a field");
    }
    return value;
  }

  std::string_view text_;
  std::string fileName_;
  std::size_t pos_ = 0;
  long line_ = 1;
};

}  // namespace

void WriteCsvHeader(std::ostream& out) {
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) out << (i ? "," : "") << kAdColumns[i];
  out << "\r\n";
}

void WriteCsvAd(std::ostream& out, const maintenance::AdRow& ad) {
  for (std::size_t i = 0; i < ad.values.size(); ++i) {
    if (i) out << ',';
    WriteField(out, ad.values[i]);
  }
  out << "\r\n";
}

std::vector<CsvAd> ReadCsvAds(std::string_view text, const std::string& fileName) {
  CsvParser parser(text, fileName);
  if (parser.AtEnd()) parser.Fail(1, "the file is empty, not even a header row");
  // Where each field of a record goes in the table's column order.
  std::vector<std::size_t> target;
  for (const Field& name : parser.NextRecord()) {
    const auto it =
        std::ranges::find_if(kAdColumns, [&](std::string_view c) { return name && EqualsIgnoreCase(c, *name); });
    if (it == kAdColumns.end()) parser.Fail(1, "the header names no column " + name.value_or(""));
    const auto column = static_cast<std::size_t>(it - kAdColumns.begin());
    if (std::ranges::find(target, column) != target.end()) parser.Fail(1, "the header names " + *name + " twice");
    target.push_back(column);
  }
  if (target.size() != kAdColumns.size()) {
    for (std::size_t c = 0; c < kAdColumns.size(); ++c) {
      if (std::ranges::find(target, c) == target.end())
        parser.Fail(1, "the header lacks column " + std::string(kAdColumns[c]));
    }
  }
  std::vector<CsvAd> ads;
  while (!parser.AtEnd()) {
    const long line = parser.Line();
    std::vector<Field> fields = parser.NextRecord();
    if (fields.size() != target.size()) {
      parser.Fail(line,
                  std::to_string(fields.size()) + " fields where the header has " + std::to_string(target.size()));
    }
    CsvAd& ad = ads.emplace_back();
    ad.line = line;
    for (std::size_t i = 0; i < fields.size(); ++i) ad.ad.values[target[i]] = std::move(fields[i]);
  }
  return ads;
}

}  // namespace qb::admin
