// new-site: lays out a new board in an empty directory: the program, its
// settings, the category list and an empty store the web server may write.
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "gateway/qb_error.h"
#include "gateway/site_config.h"
#include "qbadmin/commands.h"

namespace qb::admin {
namespace {

namespace fs = std::filesystem;

constexpr char kCategories[] = "Vehicles\nBoats\nReal Estate\nJobs\nElectronics\nFurniture\nPets\nMiscellaneous\n";

struct NewSiteOptions {
  std::string dir;
  std::string adminEmail = "webmaster@localhost";
  int expireDays = 30;
  std::string scriptUrl;  // empty: derived from the directory
  std::string homeUrl;    // empty: the script URL
  std::string bodyColor = "#FFFFFF";
  std::string postgres;  // a connection string: the seventh value
  std::string user;      // who may write the store; empty: www-data when run as root
  std::string program;   // empty: the program installed beside this tool
};

QbError SiteError(const std::string& what) { return QbError(kErrFileNotFound, what); }

// The board's program as installed with this tool: beside it in a build
// tree (build/qbcgi), else where the package puts it (../lib/quaybill/qbcgi
// from the tool's bin directory, i.e. /usr/lib/quaybill/qbcgi).
fs::path InstalledProgram() {
  std::error_code failed;
  const fs::path self = fs::read_symlink("/proc/self/exe", failed);
  if (failed) throw SiteError("cannot tell where qbadmin is installed; give the program with --program");
  for (const fs::path& candidate : {self.parent_path() / "qbcgi", self.parent_path() / "../lib/quaybill/qbcgi"}) {
    if (fs::is_regular_file(candidate, failed)) return candidate.lexically_normal();
  }
  throw SiteError("the program is neither beside qbadmin nor in ../lib/quaybill/; give it with --program");
}

// A site under Debian's web root is served at the same path on this host.
std::string DefaultScriptUrl(const fs::path& dir) {
  char host[256] = "localhost";
  if (::gethostname(host, sizeof host - 1) != 0) std::snprintf(host, sizeof host, "localhost");
  const fs::path relative = dir.lexically_relative("/var/www/html");
  const std::string path = relative.empty() || relative.native().starts_with("..") || relative == "."
                               ? "quaybill/"
                               : relative.generic_string() + "/";
  return "http://" + std::string(host) + "/" + path;
}

// A value as qbcgi.cfg holds it: one line; quoted when it holds a comma or
// blanks at its ends, which the board's reader would otherwise split or drop.
std::string SettingLine(const std::string& name, const std::string& value) {
  if (value.find_first_of("\"\r\n") != std::string::npos) {
    throw QbError(kErrInvalidArgument, name + " cannot hold a double quote or a line end");
  }
  const bool quote = value.find(',') != std::string::npos || value.starts_with(' ') || value.ends_with(' ') ||
                     value.starts_with('\t') || value.ends_with('\t');
  return (quote ? "\"" + value + "\"" : value) + "\n";
}

void WriteNewFile(const fs::path& file, const std::string& text, fs::perms mode) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw SiteError(file.string() + ": cannot be written");
  fs::permissions(file, mode);
}

void Own(const fs::path& file, const passwd& user) {
  if (::chown(file.c_str(), user.pw_uid, user.pw_gid) != 0) {
    throw SiteError(file.string() + ": cannot be given to " + user.pw_name + " (run as root to give it)");
  }
}

void MakeSite(NewSiteOptions options, Invocation& inv) {
  const fs::path dir = fs::absolute(options.dir).lexically_normal();
  std::error_code failed;
  if (fs::exists(dir, failed)) {
    if (!fs::is_directory(dir, failed)) throw SiteError(dir.string() + " exists and is not a directory");
    if (!fs::is_empty(dir, failed))
      throw SiteError(dir.string() + " is not empty; a new site needs an empty directory");
  }
  const fs::path program = options.program.empty() ? InstalledProgram() : fs::path(options.program);
  if (!fs::is_regular_file(program, failed)) throw SiteError(program.string() + ": no program there");
  // The store's owner is checked before anything is written.
  if (options.user.empty() && ::geteuid() == 0) options.user = "www-data";
  const passwd* owner = nullptr;
  if (!options.user.empty() && options.postgres.empty()) {
    owner = ::getpwnam(options.user.c_str());
    if (owner == nullptr)
      throw SiteError("there is no user " + options.user + " on this machine; name one with --user");
  }
  if (options.scriptUrl.empty()) options.scriptUrl = DefaultScriptUrl(dir);
  if (!options.scriptUrl.ends_with('/')) options.scriptUrl += '/';
  if (options.homeUrl.empty()) options.homeUrl = options.scriptUrl;
  std::string settings = SettingLine("--admin-email", options.adminEmail) +
                         SettingLine("--expire-days", std::to_string(options.expireDays)) +
                         SettingLine("--script-url", options.scriptUrl) + SettingLine("--home-url", options.homeUrl) +
                         "N\n" + SettingLine("--body-color", options.bodyColor);
  if (!options.postgres.empty()) settings += SettingLine("--postgres", options.postgres);

  fs::create_directories(dir, failed);
  if (failed) throw SiteError(dir.string() + ": cannot be made: " + failed.message());
  fs::copy_file(program, dir / "qbcgi.exe", failed);
  if (failed) throw SiteError((dir / "qbcgi.exe").string() + ": cannot be written: " + failed.message());
  fs::permissions(dir / "qbcgi.exe", fs::perms(0755));
  // A connection string may hold a password: then only the owner reads it.
  WriteNewFile(dir / "qbcgi.cfg", settings,
               fs::perms(options.postgres.find("password") != std::string::npos ? 0600 : 0644));
  WriteNewFile(dir / "cat.lst", kCategories, fs::perms(0644));
  if (options.postgres.empty()) {
    // The board's own first use makes the store; the program, as the web
    // server's user, must then write it, its lock file and its journal.
    Invocation site{inv.in, inv.out, inv.err, dir.string()};
    OpenSiteStore(site, true).reset();
    if (owner != nullptr) {
      Own(dir, *owner);
      for (const char* name : {"qb.db", "qb.db.lock", "qb.db-journal"}) {
        if (fs::exists(dir / name, failed)) Own(dir / name, *owner);
      }
    }
  } else if (!options.user.empty() && options.postgres.find("password") != std::string::npos) {
    // The password is for the web server's user only.
    if (const passwd* reader = ::getpwnam(options.user.c_str())) Own(dir / "qbcgi.cfg", *reader);
  }
  // What the board will read, read back by its own reader.
  SiteConfig written;
  LoadSiteConfig(dir.string(), written);
  inv.out << "Made a new site in " << dir.string() << " (program from " << program.string() << ")\n"
          << "  ads kept in "
          << (written.StoreConnection.empty() ? "qb.db" : "the PostgreSQL database of the seventh value")
          << (owner != nullptr ? std::string(", written by ") + owner->pw_name : std::string()) << "\n"
          << "  pages link to " << written.ScriptUrl << "qbcgi.exe; error pages name " << written.AdminEmail << "\n";
  if (!options.postgres.empty()) {
    inv.out << "The board makes its tables on first use; `qbadmin --site " << dir.string()
            << " check`, run as the web server's user, tries the connection.\n";
  }
}

}  // namespace

void AddNewSiteCommand(CLI::App& app, Invocation& inv) {
  const auto options = std::make_shared<NewSiteOptions>();
  CLI::App* cmd =
      app.add_subcommand("new-site",
                         "Lay out a new board in DIR (made when missing, refused when not empty): the program, "
                         "qbcgi.cfg, cat.lst and an empty store that the web server's user may write");
  cmd->add_option("DIR", options->dir, "the new site's directory")->required();
  cmd->add_option("--admin-email", options->adminEmail, "shown on error pages (default webmaster@localhost)");
  cmd->add_option("--expire-days", options->expireDays, "days until an ad expires (default 30)")
      ->check(CLI::Range(1, 36500));
  cmd->add_option("--script-url", options->scriptUrl,
                  "the address of DIR on the web (default http://HOST/ and DIR's path under /var/www/html)");
  cmd->add_option("--home-url", options->homeUrl, "where the Home link goes (default the script URL)");
  cmd->add_option("--body-color", options->bodyColor, "page background, a colour name or #rrggbb (default #FFFFFF)");
  cmd->add_option("--postgres", options->postgres,
                  "keep the ads in this PostgreSQL database (a libpq connection string) instead of qb.db");
  cmd->add_option("--user", options->user,
                  "the user the web server runs the board as, who may write the store (default www-data when "
                  "run as root)");
  cmd->add_option("--program", options->program,
                  "the program to copy in (default: beside qbadmin, or ../lib/quaybill/qbcgi from it)");
  cmd->callback([options, &inv] { MakeSite(*options, inv); });
}

}  // namespace qb::admin
