#pragma once
// Helpers for store tests: a private temporary directory, whole files, adding
// and listing ads, and checking a raised QbError.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "gateway/qb_error.h"
#include "storage/database.h"

namespace qb::testsupport {

// A new directory under /tmp, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& Dir() const { return dir_; }

 private:
  std::string dir_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Adds an ad through a table recordset and returns its ID.
std::int64_t AddAd(Database& db, const std::vector<std::pair<std::string, std::string>>& fields);
// `field` of every row of `sql`, run with parameter `param` (if any) set.
std::vector<std::string> Rows(Database& db, std::string_view sql, std::string_view param = {},
                              std::string_view value = {}, std::string_view field = "ID");
// The first column of the first row of `sql`, run directly on `db`.
std::string Scalar(sqlite3* db, const std::string& sql);

// Runs `f` and expects a QbError numbered `number`; returns its description.
template <typename F>
std::string ErrorOf(F&& f, std::int32_t number) {
  try {
    f();
  } catch (const QbError& e) {
    EXPECT_EQ(e.Number(), number) << e.Description();
    return e.Description();
  }
  ADD_FAILURE() << "no QbError " << number << " raised";
  return {};
}

}  // namespace qb::testsupport
