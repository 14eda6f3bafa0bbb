// check and stats: whether the site is sound, and what its store holds.
#include <iomanip>

#include "gateway/qb_error.h"
#include "gateway/site_config.h"
#include "gateway/site_lists.h"
#include "qbadmin/commands.h"
#include "qbadmin/output_formats.h"
#include "qbadmin/stored_password.h"

namespace qb::admin {
namespace {

constexpr int kStatsDays = 30;

// Stored passwords that no seller can type are a problem. An ad without a
// password is only noted: the board has always stored some (every field of
// the form left empty), it refuses them now, and they unlock for no one,
// which is what an operator who clears a password means. Returns the problem,
// or "" when every password can be typed; writes the note itself.
std::string CheckPasswords(Database& db, const std::string& store, Invocation& inv) {
  long long untypable = 0, none = 0;
  std::string firstUntypable, firstNone;
  maintenance::ForEachAd(db, {}, inv.today, [&](const maintenance::AdRow& ad) {
    const StoredPassword kind = ClassifyPassword(ad.values[10]);
    if (kind == StoredPassword::kTypable) return;
    const bool isNone = kind == StoredPassword::kNone;
    if ((isNone ? none : untypable)++ == 0) (isNone ? firstNone : firstUntypable) = ad.values[0].value_or("");
  });
  const auto among = [](long long count, const std::string& first) {
    return Counted(count, "ad") + " (ad " + first + (count == 1 ? ") has" : " among them) have");
  };
  if (none > 0) {
    inv.out << "note     " << store << ": " << among(none, firstNone) << " no password, so no one can unlock "
            << (none == 1 ? "it" : "them") << "; qbadmin password ID sets one\n";
  }
  if (untypable == 0) return {};
  return store + ": " + among(untypable, firstUntypable) +
         " a password with lower-case letters, which no one can type (the board upper-cases what is typed); "
         "qbadmin password ID sets a new one";
}

// Reads the site's files as a page does and checks the store; reports each
// finding as a line, and sets status 1 unless all is well.
void CheckSite(Invocation& inv) {
  int problems = 0;
  const auto report = [&](bool ok, const std::string& what) {
    inv.out << (ok ? "ok       " : "PROBLEM  ") << what << '\n';
    if (!ok) ++problems;
  };
  const auto attempt = [&](const std::string& what, const auto& step) {
    try {
      step();
      return true;
    } catch (const QbError& e) {
      report(false, what + ": " + e.Description());
      return false;
    }
  };
  Site site = UnreadSite(inv);
  if (attempt("qbcgi.cfg", [&] { LoadSiteConfig(site.directory, site.config); })) {
    report(true, "qbcgi.cfg: ExpireDays " + std::to_string(site.config.ExpireDays) + ", banners " +
                     (site.config.BannersEnabled ? "on" : "off"));
  }
  const bool categoriesRead = attempt("cat.lst", [&] { LoadCategoryList(site); });
  if (categoriesRead) {
    bool clean = true;
    for (int i = 1; i <= 8; ++i) {
      const std::string& name = site.CategoryList[i];
      if (name.empty() || name.find_first_of("%_") != std::string::npos) {
        report(false, "cat.lst: category " + std::to_string(i) + " \"" + DisplayText(name) +
                          "\" is empty or holds % or _, which its page takes as a pattern");
        clean = false;
      }
    }
    if (clean) report(true, "cat.lst: eight categories");
  }
  if (!site.config.BannersEnabled) {
    inv.out << "-        qbban.cfg: not read, banners are off\n";
  } else if (attempt("qbban.cfg", [&] { LoadBannerList(site); })) {
    report(true, "qbban.cfg: " + std::to_string(site.BannerCount) + " banners");
  }

  const std::string store = StoreLabel(SiteStore(inv.siteDir, site.config));
  std::unique_ptr<Database> db;
  if (attempt(store, [&] { db = OpenSiteStore(inv); })) {
    const std::vector<std::string> found = maintenance::CheckStore(*db);
    for (const std::string& problem : found) report(false, store + ": " + DisplayText(problem));
    if (found.empty()) report(true, store + ": " + maintenance::CheckCovers(*db));
    if (categoriesRead && found.empty()) {
      const std::vector<std::string> names(site.CategoryList.begin() + 1, site.CategoryList.end());
      if (const long long unlisted = maintenance::CountUnlisted(*db, names)) {
        inv.out << "note     " << store << ": " << Counted(unlisted, "ad") << (unlisted == 1 ? " is" : " are")
                << " in no category of cat.lst; only the all-ads listing shows them\n";
      }
    }
    if (const std::string problem = found.empty() ? CheckPasswords(*db, store, inv) : ""; !problem.empty()) {
      report(false, problem);
    }
  }
  inv.out << (problems == 0 ? "All is well.\n" : Counted(problems, "problem") + ".\n");
  if (problems > 0) inv.status = 1;
}

void ShowStats(const std::string& format, Invocation& inv) {
  const std::vector<std::string> names = CategoryNames(inv);
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  const maintenance::StoreStats stats = maintenance::CollectStats(*db, inv.today, kStatsDays);
  std::vector<std::pair<std::string, long long>> perCategory;
  for (const std::string& name : names) {
    maintenance::AdFilter filter;
    filter.category = name;
    perCategory.emplace_back(name, maintenance::CountMatching(*db, filter, inv.today));
  }
  const long long unlisted = maintenance::CountUnlisted(*db, names);
  // Every day of the period, those without ads too.
  std::vector<std::pair<std::string, long long>> perDay;
  for (int back = kStatsDays - 1; back >= 0; --back) {
    const CivilDate day = AddDays(inv.today, -back);
    long long count = 0;
    for (const auto& [date, n] : stats.perDay) count += date == day ? n : 0;
    perDay.emplace_back(IsoDateText(day), count);
  }

  if (format == "json") {
    nlohmann::ordered_json json = {{"ads", stats.total}, {"expired", stats.expired}, {"unlisted", unlisted}};
    for (const auto& [name, count] : perCategory) json["categories"].push_back({{"name", name}, {"ads", count}});
    for (const auto& [day, count] : perDay) json["days"].push_back({{"date", day}, {"ads", count}});
    inv.out << JsonText(json, 2) << '\n';
    return;
  }
  inv.out << "Ads: " << stats.total << ", of which " << stats.expired << " expired, waiting for the purge\n\n";
  std::vector<std::vector<std::string>> rows;
  for (const auto& [name, count] : perCategory) rows.push_back({DisplayText(name, 30), std::to_string(count)});
  if (unlisted > 0) rows.push_back({"(in no category of cat.lst)", std::to_string(unlisted)});
  WriteTable(inv.out, {"Category", "Ads"}, rows);
  rows.clear();
  for (const auto& [day, count] : perDay) rows.push_back({day, std::to_string(count)});
  inv.out << "\nPlaced or last updated, the last " << kStatsDays << " days:\n";
  WriteTable(inv.out, {"Day", "Ads"}, rows);
}

}  // namespace

void AddHealthCommands(CLI::App& app, Invocation& inv) {
  CLI::App* check =
      app.add_subcommand("check",
                         "Check the store's integrity and schema and read the site's files as the board does; "
                         "exit status 0 only when all is well");
  check->callback([&inv] { CheckSite(inv); });

  const auto format = std::make_shared<std::string>("text");
  CLI::App* stats =
      app.add_subcommand("stats", "Ads per category, ads placed or updated per day over the last 30 days, expired ads");
  stats->add_option("--format", *format, "text (default) or json")->check(CLI::IsMember({"text", "json"}));
  stats->callback([format, &inv] { ShowStats(*format, inv); });
}

}  // namespace qb::admin
