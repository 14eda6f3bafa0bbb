// limits: the counts of the placing limit per address, and the addresses
// exempt from it (storage/place_limit.h).
#include <chrono>
#include <optional>

#include "gateway/ascii_text.h"
#include "qbadmin/commands.h"
#include "qbadmin/output_formats.h"
#include "storage/guess_limit.h"
#include "storage/place_limit.h"

namespace qb::admin {
namespace {

struct LimitOptions {
  std::optional<std::string> clear, exempt, unexempt;
  bool all = false;
};

// An address as the board counts it: an IPv6 address as its /64 network.
std::string CountedAddress(const std::string& given, const char* option) {
  if (Trim(given).empty()) throw CLI::ValidationError(option, "give an address, not an empty text");
  return guesses::GuessingAddress(Trim(given));
}

void ListLimits(Invocation& inv) {
  const std::int64_t now =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  const std::vector<placing::AddressCount> counts = placing::ListCounts(*OpenSiteStore(inv), now);
  if (counts.empty()) {
    inv.out << "No address has placed ads in the last hour, and none is exempt.\n";
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const placing::AddressCount& c : counts) {
    const std::int64_t minutes = (c.allowedFrom - now + 59) / 60;
    rows.push_back({DisplayText(c.address), std::to_string(c.ads),
                    c.exempt              ? "exempt"
                    : c.allowedFrom > now ? "refused for " + std::to_string(minutes) + " more minutes"
                                          : "allowed"});
  }
  WriteTable(inv.out, {"Address", "Ads in the last hour", "Placing"}, rows);
}

void RunLimits(const LimitOptions& options, Invocation& inv) {
  const int actions =
      options.clear.has_value() + options.all + options.exempt.has_value() + options.unexempt.has_value();
  if (actions > 1) throw CLI::ValidationError("limits", "give one of --clear, --all, --exempt and --unexempt");
  if (actions == 0) return ListLimits(inv);
  if (options.clear || options.all) {
    const std::optional<std::string> address =
        options.clear ? std::optional(CountedAddress(*options.clear, "--clear")) : std::nullopt;
    const std::int64_t cleared = placing::ClearCounts(*OpenSiteStore(inv), address);
    inv.out << "Forgot " << cleared << (cleared == 1 ? " ad" : " ads") << " counted "
            << (address ? "for " + DisplayText(*address) : std::string("for every address")) << ".\n";
    return;
  }
  const bool exempt = options.exempt.has_value();
  const std::string address =
      CountedAddress(exempt ? *options.exempt : *options.unexempt, exempt ? "--exempt" : "--unexempt");
  // An exemption may be the first thing a new site's store holds.
  const bool changed = placing::SetExempt(*OpenSiteStore(inv, exempt), address, exempt);
  const char* outcome =
      exempt ? (changed ? " is exempt from the placing limit now.\n" : " was exempt from the placing limit already.\n")
             : (changed ? " is subject to the placing limit again.\n" : " was not exempt from the placing limit.\n");
  inv.out << DisplayText(address) << outcome;
}

}  // namespace

void AddLimitCommands(CLI::App& app, Invocation& inv) {
  const auto options = std::make_shared<LimitOptions>();
  CLI::App* limits = app.add_subcommand(
      "limits",
      "List the ads each address placed in the last hour (20 an hour may be placed from one address, "
      "an IPv6 client counting by its /64), or clear those counts, or exempt an address from the limit");
  limits->add_option("--clear", options->clear, "forget the ads counted for this address");
  limits->add_flag("--all", options->all, "forget the ads counted for every address");
  limits->add_option("--exempt", options->exempt,
                     "neither limit nor count this address (a host trusted to place many ads)");
  limits->add_option("--unexempt", options->unexempt, "limit this address again");
  limits->callback([options, &inv] { RunLimits(*options, inv); });
}

}  // namespace qb::admin
