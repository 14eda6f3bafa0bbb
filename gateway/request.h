#pragma once
// Everything one request owns: settings, the captured CGI values and form
// fields, the category and banner lists, the database slots and the output.
// Nothing outlives it, so a whole request can run in-process (tests, tools),
// in its own CGI process, or as one of many in a resident process, which
// makes a fresh Request for every request it answers. What outlives a
// request (the store connection a resident process keeps) is lent to it.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <unistd.h>

#include "gateway/cgi_environment.h"
#include "gateway/form_data.h"
#include "gateway/response_writer.h"
#include "gateway/site_config.h"
#include "storage/ad_dates.h"
#include "storage/database_slots.h"
#include "storage/kept_store.h"

namespace qb {

struct Banner {
  std::string ImageUrl;
  std::string LinkUrl;
};

// Reads up to `size` bytes of the request body into `into`: the number read,
// 0 at the body's end, or -1 with errno set (EINTR: try again).
using BodyReader = std::function<long(char* into, std::size_t size)>;

struct Request {
  // A CGI request: the body on `inputFd`, the response written to `outputFd`.
  Request(std::string programDirectory, std::string programFileName, int inputFd, int outputFd,
          EnvLookup environment)
      : programDir(std::move(programDirectory)),
        programFile(std::move(programFileName)),
        readBody([inputFd](char* into, std::size_t size) { return static_cast<long>(::read(inputFd, into, size)); }),
        env(std::move(environment)),
        out(outputFd) {}
  // A request of a resident process: the response is held whole (out.Held()),
  // the store is opened on the connection `store` keeps between requests, and
  // the site's files are read through `files`.
  Request(std::string programDirectory, std::string programFileName, BodyReader body, EnvLookup environment,
          KeptStore* store, SiteFiles* files)
      : programDir(std::move(programDirectory)),
        programFile(std::move(programFileName)),
        readBody(std::move(body)),
        env(std::move(environment)),
        keptStore(store),
        siteFiles(files),
        out(HoldWhole{}) {}

  // Where the site lives, and the file name the program was started by,
  // which the page links address.
  std::string programDir;
  std::string programFile;
  BodyReader readBody;
  // Where error pages are logged (standard error, the web server's error log),
  // unless writeLog is set: a resident process sends the line to the web
  // server with the request, as FastCGI's error stream.
  int logFd = 2;
  std::function<void(std::string_view line)> writeLog;
  EnvLookup env;
  // Today's local date; tests may replace it.
  std::function<CivilDate()> today = LocalToday;
  // The time now in whole seconds since 1970; tests may replace it.
  std::function<std::int64_t()> now = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };

  // How long the store's database server is waited on; tests shorten it.
  ServerWaits storeWaits;

  SiteConfig config;
  std::string DatabasePath;
  std::string ErrorText;

  CgiEnvironment cgi;
  std::int32_t ContentLength = 0;
  std::string FormBody;
  FormPairs form;

  std::array<std::string, 9> CategoryList;  // entries 1 to 8
  std::int16_t BannerCount = 0;
  std::array<Banner, 11> BannerList;  // entries 1 to 10
  std::string ActionName;

  // Null in a CGI process, which opens the store and reads the site's files
  // afresh.
  KeptStore* keptStore = nullptr;
  SiteFiles* siteFiles = nullptr;
  DatabaseSlots slots;
  ResponseWriter out;

  std::string GetFormValue(std::string_view name) const { return form.GetFormValue(name); }
  // Opens the site's store: afresh, or on the connection a resident process keeps.
  std::unique_ptr<Database> OpenStore() const {
    return Database::Open(StoreLocation{DatabasePath, config.StoreConnection, storeWaits}, keptStore);
  }
};

}  // namespace qb
