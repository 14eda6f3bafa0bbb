// list, show, delete, purge and password: the commands that look at and
// change ads one by one or by filter.
#include <termios.h>
#include <unistd.h>

#include <istream>
#include <random>

#include "gateway/ascii_text.h"
#include "gateway/qb_error.h"
#include "qbadmin/ad_csv.h"
#include "qbadmin/ad_filter_options.h"
#include "qbadmin/commands.h"
#include "qbadmin/output_formats.h"

namespace qb::admin {
namespace {

using maintenance::AdRow;

// The columns of the list table, with the widest a cell may be.
constexpr std::pair<int, std::size_t> kTableColumns[] = {{0, 0},  {9, 0},  {8, 0},  {7, 16},
                                                         {2, 20}, {3, 28}, {4, 10}, {1, 32}};

void ListAds(const FilterOptions& options, const std::string& format, Invocation& inv) {
  const maintenance::AdFilter filter = MakeFilter(options, inv);
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  std::ostream& out = inv.out;
  long long count = 0;
  std::vector<std::vector<std::string>> rows;
  if (format == "csv") WriteCsvHeader(out);
  if (format == "json") out << '[';
  maintenance::ForEachAd(*db, filter, inv.today, [&](const AdRow& ad) {
    if (format == "csv") {
      WriteCsvAd(out, ad);
    } else if (format == "json") {
      out << (count ? ",\n" : "\n") << JsonText(AdJson(ad));
    } else {
      std::vector<std::string>& cells = rows.emplace_back();
      for (const auto& [column, width] : kTableColumns)
        cells.push_back(DisplayText(ad.values[column].value_or(""), width));
    }
    ++count;
  });
  if (format == "json") out << (count ? "\n]\n" : "]\n");
  if (format != "table") return;
  if (count == 0) {
    out << "No ads match.\n";
    return;
  }
  WriteTable(out, {"ID", "Date", "Expire", "Category", "Name", "Email", "Price", "Item"}, rows);
  out << count << (count == 1 ? " ad\n" : " ads\n");
}

void ShowAd(std::int64_t id, const std::string& format, Invocation& inv) {
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  const std::optional<AdRow> ad = maintenance::FindAd(*db, id);
  if (!ad) throw QbError(kErrNoCurrentRecord, "Ad " + std::to_string(id) + " not found");
  if (format == "json") {
    inv.out << JsonText(AdJson(*ad), 2) << '\n';
  } else {
    WriteAdFields(inv.out, *ad);
  }
}

bool Confirmed(const std::vector<std::int64_t>& ids, Invocation& inv) {
  inv.err << ids.size() << (ids.size() == 1 ? " ad matches" : " ads match") << " (IDs";
  for (std::size_t i = 0; i < ids.size() && i < 10; ++i) inv.err << ' ' << ids[i];
  inv.err << (ids.size() > 10 ? " ...). " : "). ") << "Delete? [y/N] " << std::flush;
  std::string answer;
  std::getline(inv.in, answer);
  answer = AsciiUpper(Trim(answer));
  return answer == "Y" || answer == "YES";
}

void DeleteAds(const std::vector<std::int64_t>& ids, const FilterOptions& options, bool all, bool yes,
               Invocation& inv) {
  const maintenance::AdFilter filter = MakeFilter(options, inv);
  const bool byIds = !ids.empty();
  if (byIds == (all || !filter.Empty())) {
    throw CLI::ValidationError("delete", byIds ? "give either IDs or filter options, not both"
                                               : "give the IDs of the ads to delete, or filter options "
                                                 "(--all for every ad)");
  }
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  std::vector<std::int64_t> chosen = ids;
  if (!byIds) {
    // Exactly the ads counted are deleted, not ads placed since.
    chosen = maintenance::MatchingIds(*db, filter, inv.today);
    if (chosen.empty()) {
      inv.out << "No ads match; nothing deleted.\n";
      return;
    }
    // Filters that happen to choose every ad (a category pattern "%", a day
    // long past) empty the board only when the operator says so.
    const long long stored = maintenance::CountMatching(*db, {}, inv.today);
    if (!all && static_cast<long long>(chosen.size()) >= stored) {
      throw CLI::ValidationError("delete", "the filters choose every ad in the store (" + Counted(stored, "ad") +
                                               "); give --all as well to delete them all");
    }
    if (!yes && !Confirmed(chosen, inv)) {
      inv.err << "Nothing deleted.\n";
      inv.status = 1;
      return;
    }
  }
  const std::vector<std::int64_t> missing = maintenance::DeleteAds(*db, chosen);
  const std::size_t deleted = chosen.size() - missing.size();
  inv.out << "Deleted " << deleted << (deleted == 1 ? " ad.\n" : " ads.\n");
  // A matched ad that its seller deleted meanwhile is gone all the same; an
  // ID given that names no ad is the operator's mistake.
  if (!byIds) return;
  for (const std::int64_t id : missing) inv.err << "qbadmin: ad " << id << " not found\n";
  if (!missing.empty()) inv.status = 1;
}

// A password for a seller to type: no letters and digits that look alike.
std::string RandomPassword() {
  constexpr std::string_view kAlphabet = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
  std::string password;
  for (int i = 0; i < 8; ++i) password += kAlphabet[pick(random)];
  return password;
}

// One line of standard input; at a terminal, asked for without echo.
std::string ReadPassword(std::int64_t id, Invocation& inv) {
  termios saved{};
  const bool terminal = ::isatty(STDIN_FILENO) && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (terminal) {
    inv.err << "New password for ad " << id << ": " << std::flush;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
  }
  std::string line;
  const bool read = static_cast<bool>(std::getline(inv.in, line));
  if (terminal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    inv.err << '\n';
  }
  if (!read) throw QbError(kErrPastEndOfFile, "No password on standard input; the password is unchanged");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void SetPassword(std::int64_t id, bool random, Invocation& inv) {
  const std::string password = random ? RandomPassword() : ReadPassword(id, inv);
  // The edit page's form takes at most 8 characters and trims what is typed,
  // so a longer password, or one with blanks around it, could never be given.
  const bool controls = std::ranges::any_of(password, [](char c) { return static_cast<unsigned char>(c) < 0x20; });
  if (password.empty() || password.size() > 8 || password != Trim(password) || controls) {
    throw QbError(kErrInvalidArgument, "A password is 1 to 8 characters without blanks around it; the password of ad " +
                                           std::to_string(id) + " is unchanged");
  }
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  // Stored upper-cased, as placing an ad stores it.
  if (!maintenance::SetPassword(*db, id, AsciiUpper(password))) {
    throw QbError(kErrNoCurrentRecord, "Ad " + std::to_string(id) + " not found");
  }
  if (random) {
    inv.out << "The new password of ad " << id << " is " << password << '\n';
  } else {
    inv.out << "The password of ad " << id << " is changed.\n";
  }
}

}  // namespace

void AddAdCommands(CLI::App& app, Invocation& inv) {
  const auto filters = std::make_shared<FilterOptions>();
  const auto format = std::make_shared<std::string>("table");
  CLI::App* list = app.add_subcommand("list", "List ads, all or those the filter options choose");
  AddFilterOptions(*list, *filters);
  list->add_option("--format", *format, "table (default), csv or json")->check(CLI::IsMember({"table", "csv", "json"}));
  list->callback([filters, format, &inv] { ListAds(*filters, *format, inv); });

  const auto id = std::make_shared<std::int64_t>(0);
  const auto showFormat = std::make_shared<std::string>("text");
  CLI::App* show = app.add_subcommand("show", "Show every field of one ad");
  show->add_option("ID", *id, "the ad's ID")->required();
  show->add_option("--format", *showFormat, "text (default) or json")->check(CLI::IsMember({"text", "json"}));
  show->callback([id, showFormat, &inv] { ShowAd(*id, *showFormat, inv); });

  const auto ids = std::make_shared<std::vector<std::int64_t>>();
  const auto deleteFilters = std::make_shared<FilterOptions>();
  const auto all = std::make_shared<bool>(false);
  const auto yes = std::make_shared<bool>(false);
  CLI::App* del =
      app.add_subcommand("delete", "Delete ads by ID, or those the filter options choose (asking first, unless --yes)");
  del->add_option("ID", *ids, "IDs of the ads to delete");
  AddFilterOptions(*del, *deleteFilters);
  del->add_flag("--all", *all, "delete every ad: without filters, or with filters that choose them all");
  del->add_flag("-y,--yes", *yes, "delete what the filter chooses without asking");
  del->callback([ids, deleteFilters, all, yes, &inv] { DeleteAds(*ids, *deleteFilters, *all, *yes, inv); });

  CLI::App* purge = app.add_subcommand("purge", "Delete the expired ads now, as a category page does (for cron)");
  purge->callback([&inv] {
    const long long purged = maintenance::PurgeExpired(*OpenSiteStore(inv), inv.today);
    inv.out << "Purged " << purged << (purged == 1 ? " expired ad.\n" : " expired ads.\n");
  });

  const auto passwordId = std::make_shared<std::int64_t>(0);
  const auto random = std::make_shared<bool>(false);
  CLI::App* password = app.add_subcommand(
      "password", "Set a new password for an ad, read from standard input (one line) or made up with --random");
  password->add_option("ID", *passwordId, "the ad's ID")->required();
  password->add_flag("--random", *random, "make up a random password and print it");
  password->callback([passwordId, random, &inv] { SetPassword(*passwordId, *random, inv); });
}

}  // namespace qb::admin
