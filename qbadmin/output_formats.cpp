#include "qbadmin/output_formats.h"

#include <algorithm>
#include <cstdio>

#include "storage/ad_record.h"

namespace qb::admin {
namespace {

// Characters on screen: UTF-8 continuation bytes add none.
std::size_t Width(std::string_view text) {
  return static_cast<std::size_t>(std::ranges::count_if(text, [](char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

std::string DisplayText(std::string_view text, std::size_t maxWidth) {
  std::string shown;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += ch;
    }
  }
  if (maxWidth < 4 || Width(shown) <= maxWidth) return shown;
  std::size_t cut = 0;
  for (std::size_t kept = 0; cut < shown.size(); ++cut) {
    if ((shown[cut] & 0xC0) == 0x80) continue;
    if (kept++ == maxWidth - 3) break;
  }
  return shown.substr(0, cut) + "...";
}

std::string Counted(long long count, std::string_view noun) {
  return std::to_string(count) + ' ' + std::string(noun) + (count == 1 ? "" : "s");
}

void WriteTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const std::string& h : header) widths.push_back(Width(h));
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], Width(row[i]));
  }
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t i = 0; i < cells.size(); ++i) {
      text += cells[i];
      if (i + 1 < cells.size()) text.append(widths[i] - Width(cells[i]) + 2, ' ');
    }
    out << text << '\n';
  };
  line(header);
  for (const auto& row : rows) line(row);
}

nlohmann::ordered_json AdJson(const maintenance::AdRow& ad) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) {
    const std::string name(kAdColumns[i]);
    if (!ad.values[i]) {
      object[name] = nullptr;
    } else if (i == 0) {
      object[name] = std::stoll(*ad.values[i]);
    } else {
      object[name] = *ad.values[i];
    }
  }
  return object;
}

std::string JsonText(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void WriteAdFields(std::ostream& out, const maintenance::AdRow& ad) {
  for (std::size_t i = 0; i < kAdColumns.size(); ++i) {
    std::string label = std::string(kAdColumns[i]) + ":";
    label.resize(12, ' ');
    out << label << (ad.values[i] ? DisplayText(*ad.values[i]) : "(none)") << '\n';
  }
}

}  // namespace qb::admin
