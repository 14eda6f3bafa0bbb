#pragma once
// The ad record: one row of table QB, its fourteen columns in table order.
#include <array>
#include <string_view>

namespace qb {

inline constexpr std::array<std::string_view, 14> kAdColumns = {
    "ID",       "Item",   "Name", "Email",    "Price",      "Desc",       "Phone",
    "Category", "Expire", "Date", "Password", "RemoteHost", "RemoteAddr", "RemoteUser"};

// The table as outside tools create it; the store file format.
inline constexpr char kCreateTableSql[] =
    "CREATE TABLE QB (ID INTEGER PRIMARY KEY AUTOINCREMENT, Item TEXT, Name TEXT, Email TEXT, "
    "Price TEXT, \"Desc\" TEXT, Phone TEXT, Category TEXT, Expire TEXT, Date TEXT, Password TEXT, "
    "RemoteHost TEXT, RemoteAddr TEXT, RemoteUser TEXT)";

}  // namespace qb
