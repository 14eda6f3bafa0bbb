#pragma once
// Everything one request owns: settings, the captured CGI values and form
// fields, the category and banner lists, the database slots and the output.
// Nothing outlives it, so a whole request can run in-process (tests, tools)
// as well as in its own CGI process.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "gateway/cgi_environment.h"
#include "gateway/form_data.h"
#include "gateway/response_writer.h"
#include "gateway/site_config.h"
#include "storage/ad_dates.h"
#include "storage/database_slots.h"

namespace qb {

struct Banner {
  std::string ImageUrl;
  std::string LinkUrl;
};

struct Request {
  Request(std::string programDirectory, std::string programFileName, int inputFd, int outputFd,
          EnvLookup environment)
      : programDir(std::move(programDirectory)),
        programName(std::move(programFileName)),
        inFd(inputFd),
        env(std::move(environment)),
        out(outputFd) {}

  // Where the site lives and what the program is called (without extension).
  std::string programDir;
  std::string programName;
  int inFd;
  // Where error pages are logged (standard error, the web server's error log).
  int logFd = 2;
  EnvLookup env;
  // Today's local date; tests may replace it.
  std::function<CivilDate()> today = LocalToday;
  // The time now in whole seconds since 1970; tests may replace it.
  std::function<std::int64_t()> now = [] {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
  };

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

  DatabaseSlots slots;
  ResponseWriter out;

  std::string GetFormValue(std::string_view name) const { return form.GetFormValue(name); }
};

}  // namespace qb
