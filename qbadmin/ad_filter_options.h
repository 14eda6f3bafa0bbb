#pragma once
// The options that choose ads, shared by list and delete.
#include <CLI/CLI.hpp>

#include <optional>
#include <string>

#include "qbadmin/site.h"
#include "storage/ad_maintenance.h"

namespace qb::admin {

struct FilterOptions {
  std::optional<std::string> category, seller, email, address, since;
  bool expired = false;
};

void AddFilterOptions(CLI::App& command, FilterOptions& options);
// The filter the options describe; a category number is looked up in the
// site's cat.lst. A bad value raises CLI::ValidationError (a usage error).
maintenance::AdFilter MakeFilter(const FilterOptions& options, const Invocation& inv);

}  // namespace qb::admin
