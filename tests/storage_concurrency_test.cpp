// Several processes and connections writing the store at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "storage/ad_queries.h"
#include "support/store_support.h"

namespace qb {
namespace {

using namespace testsupport;

// One child process: 50 ads, each added as a request of its own would.
bool AddAdsAsOneProcess(const std::string& path, int child) {
  try {
    for (int i = 0; i < 50; ++i) {
      auto db = Database::Open(path);
      AddAd(*db, {{"Item", "Lamp " + std::to_string(i)}, {"Name", "seller " + std::to_string(child)}});
      db->Close();
    }
    return true;
  } catch (const QbError& e) {
    std::fprintf(stderr, "child %d: %s\n", child, e.what());
    return false;
  }
}

TEST(StoreConcurrency, ProcessesAddingToANewStoreLoseNoAd) {
  TempDir dir;
  const std::string path = dir.Path("qb.db");  // not there yet: the first opens race to create it
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  std::vector<pid_t> children;
  for (int c = 0; c < 16; ++c) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char byte;
      while (read(gate[0], &byte, 1) > 0) {  // until the parent closes the gate
      }
      _exit(AddAdsAsOneProcess(path, c) ? 0 : 1);
    }
    EXPECT_GT(pid, 0);
    if (pid > 0) children.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  for (const pid_t pid : children) {
    int status = 0;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  auto db = Database::Open(path);
  EXPECT_EQ(Scalar(db->Handle(), "SELECT count(*) || ' ' || count(DISTINCT ID) || ' ' || count(DISTINCT Name) FROM QB"),
            "800 800 16");
  EXPECT_EQ(Scalar(db->Handle(), "PRAGMA integrity_check"), "ok");
}

TEST(StoreConcurrency, UpdateWaitsForAnotherWritersDeleteAndThenRaises) {
  TempDir dir;
  const std::string path = dir.Path("qb.db");
  auto db = Database::Open(path);
  AddAd(*db, {{"Item", "Lamp"}});
  auto rs = db->CreateQueryDef(queries::kShowAll)->OpenRecordset();  // holds the read lock
  rs->Edit();
  rs->SetField("Price", "9");

  std::string deleteError;
  std::thread deleter([&] {
    try {
      auto other = Database::Open(path);
      other->CreateQueryDef("DELETE FROM QB")->Execute();  // waits for the read lock to go
    } catch (const QbError& e) {
      deleteError = e.what();
    }
  });
  // Once the deleter holds the write lock, a probe that may not wait cannot take it.
  sqlite3* probe = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &probe), SQLITE_OK);
  for (int i = 0; i < 5000 && sqlite3_exec(probe, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK; ++i) {
    sqlite3_exec(probe, "ROLLBACK", nullptr, nullptr, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sqlite3_close(probe);

  ErrorOf([&] { rs->Update(); }, kErrNoCurrentRecord);
  deleter.join();
  EXPECT_EQ(deleteError, "");
}

}  // namespace
}  // namespace qb
