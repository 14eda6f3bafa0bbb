#include "qbadmin/ad_filter_options.h"

#include "gateway/ascii_text.h"

namespace qb::admin {

void AddFilterOptions(CLI::App& command, FilterOptions& options) {
  command.add_option("--category", options.category,
                     "ads of this category: its number 1-8 in cat.lst, or a name, matched as its page matches it");
  command.add_option("--seller", options.seller, "ads of this seller, matched as the seller lookup matches the name");
  command.add_option("--email", options.email, "ads whose e-mail address contains this text (case ignored)");
  command.add_option("--address", options.address, "ads placed or last updated from this IP address");
  command.add_option("--since", options.since, "ads placed or last updated on this day (YYYY-MM-DD) or later");
  command.add_flag("--expired", options.expired, "ads whose expiry day has passed (the next purge deletes them)");
}

maintenance::AdFilter MakeFilter(const FilterOptions& options, const Invocation& inv) {
  // A blank value would choose every ad (an e-mail address contains "") or
  // none (no name is " "): neither is what a filter is given for.
  for (const auto& [name, value] : {std::pair{"--category", &options.category},
                                    {"--seller", &options.seller},
                                    {"--email", &options.email},
                                    {"--address", &options.address},
                                    {"--since", &options.since}}) {
    if (*value && value->value().find_first_not_of(" \t\r\n\v\f") == std::string::npos) {
      throw CLI::ValidationError(name, "a filter needs a value that is not empty or blank");
    }
  }
  maintenance::AdFilter filter;
  if (const auto& c = options.category) {
    if (!c->empty() && c->find_first_not_of("0123456789") == std::string::npos) {
      const int number = c->size() <= 2 ? std::stoi(*c) : 0;
      if (number < 1 || number > 8) throw CLI::ValidationError("--category", "a category number is 1 to 8");
      filter.category = CategoryNames(inv)[number - 1];
    } else {
      filter.category = *c;
    }
  }
  if (options.seller) filter.seller = Trim(*options.seller);
  filter.email = options.email;
  filter.address = options.address;
  if (options.since) {
    filter.since = ParseIsoDate(*options.since);
    if (!filter.since) throw CLI::ValidationError("--since", "expected a day as YYYY-MM-DD, got " + *options.since);
  }
  filter.expired = options.expired;
  return filter;
}

}  // namespace qb::admin
