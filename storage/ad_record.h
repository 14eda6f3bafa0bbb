#pragma once
// The ad record: one row of table QB, its fourteen columns in table order.
#include <algorithm>
#include <array>
#include <string_view>

namespace qb {

inline constexpr std::array<std::string_view, 14> kAdColumns = {
    "ID",       "Item",  "Name",     "Email",      "Price",      "Desc",      "Phone",
    "Category", "Expire", "Date",    "Password",   "RemoteHost", "RemoteAddr", "RemoteUser"};

// Table and column names are matched without regard to (ASCII) case.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

// The table as outside tools create it; the store file format.
inline constexpr char kCreateTableSql[] =
    "CREATE TABLE QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, Email TEXT, "
    "Price TEXT, \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, Password TEXT, "
    "RemoteHost TEXT, RemoteAddr TEXT, RemoteUser TEXT)";

}  // namespace qb
