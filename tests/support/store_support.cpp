#include "support/store_support.h"

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qb::testsupport {

TempDir::TempDir() {
  char pattern[] = "/tmp/qbstore-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
  dir_ = pattern;
}

TempDir::~TempDir() { std::filesystem::remove_all(dir_); }

std::string ReadFile(const std::string& path) {
  std::ostringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::int64_t AddAd(Database& db, const std::vector<std::pair<std::string, std::string>>& fields) {
  auto rs = db.OpenTable("QB");
  rs->AddNew();
  for (const auto& [name, value] : fields) rs->SetField(name, value);
  rs->Update();
  rs->Close();
  return sqlite3_last_insert_rowid(db.Handle());
}

std::vector<std::string> Rows(Database& db, std::string_view sql, std::string_view param,
                              std::string_view value, std::string_view field) {
  auto query = db.CreateQueryDef(sql);
  if (!param.empty()) query->SetParameter(param, value);
  std::vector<std::string> rows;
  for (auto rs = query->OpenRecordset(); !rs->Eof(); rs->MoveNext()) rows.emplace_back(rs->Field(field));
  return rows;
}

std::string Scalar(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string text = "(error)";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
    const unsigned char* column = sqlite3_column_text(stmt, 0);
    text = column != nullptr ? reinterpret_cast<const char*>(column) : "";
  }
  sqlite3_finalize(stmt);
  return text;
}

}  // namespace qb::testsupport
