#pragma once
// One whole request against a test site, for GoogleTest tests.
#include <gtest/gtest.h>

#include "support/cgi_process.h"

namespace qbtest {

// Runs `request` through the site's program and expects the program to exit
// normally, whatever it answered.
inline CgiResult Request(const TempSite& site, const CgiRequest& request, Output output = Output::kPipe) {
  CgiResult r = RunCgi(site.ProgramPath(), request, output);
  EXPECT_EQ(r.exitCode, 0);
  return r;
}

}  // namespace qbtest
