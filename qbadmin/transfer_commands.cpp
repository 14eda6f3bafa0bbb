// export, import and backup: the whole store into and out of files.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "gateway/qb_error.h"
#include "qbadmin/ad_csv.h"
#include "qbadmin/commands.h"
#include "qbadmin/output_file.h"
#include "qbadmin/output_formats.h"
#include "qbadmin/stored_password.h"

namespace qb::admin {
namespace {

QbError FileError(const std::string& file, const std::string& what) {
  return QbError(kErrFileNotFound, file + ": " + what);
}

// Exports to FILE.part and renames it when complete, so that FILE is never
// a cut-short export; "-" writes to standard output.
void ExportAds(const std::string& file, bool replace, Invocation& inv) {
  const bool toStdout = file == "-";
  if (!toStdout) CheckOutputFile(file, replace, "export", inv);
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  const std::string part = file + ".part";
  std::ofstream stream;
  if (!toStdout) {
    const OwnerOnlyFiles ownerOnly;
    std::error_code ignored;
    std::filesystem::remove(part, ignored);
    stream.open(part, std::ios::binary | std::ios::trunc);
    if (!stream) throw FileError(file, "cannot be written");
  }
  std::ostream& out = toStdout ? inv.out : stream;
  long long count = 0;
  WriteCsvHeader(out);
  maintenance::ForEachAd(*db, {}, inv.today, [&](const maintenance::AdRow& ad) {
    WriteCsvAd(out, ad);
    ++count;
  });
  out.flush();
  if (!toStdout) {
    stream.close();
    std::error_code renamed;
    if (stream) std::filesystem::rename(part, file, renamed);
    if (!stream || renamed) {
      std::filesystem::remove(part, renamed);
      throw FileError(file, "writing the export failed");
    }
  }
  if (!out && toStdout) throw FileError("standard output", "writing the export failed");
  inv.err << "Exported " << Counted(count, "ad") << " to " << file << ".\n";
}

std::string ReadWholeFile(const std::string& file, Invocation& inv) {
  if (file == "-") return {std::istreambuf_iterator<char>(inv.in), {}};
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw FileError(file, "cannot be read");
  std::ostringstream text;
  text << stream.rdbuf();
  if (stream.bad()) throw FileError(file, "reading failed");
  return std::move(text).str();
}

void ImportAds(const std::string& file, bool renumber, Invocation& inv) {
  const std::string text = ReadWholeFile(file, inv);
  const std::string name = file == "-" ? "standard input" : file;
  std::vector<CsvAd> read = ReadCsvAds(text, name);
  // Every row is checked before the store is touched: the import is all or
  // nothing, and its one transaction should hold the store's lock briefly.
  std::set<std::int64_t> seen;
  std::vector<maintenance::AdRow> ads;
  ads.reserve(read.size());
  for (CsvAd& row : read) {
    const auto fault = [&](const std::string& what) {
      return QbError(kErrTypeMismatch,
                     name + ", line " + std::to_string(row.line) + ": " + what + "; nothing was imported");
    };
    const std::string id = row.ad.values[0].value_or("");
    if (!renumber) {
      const bool number = !id.empty() && id.size() < 19 && id.find_first_not_of("0123456789") == std::string::npos;
      if (!number || std::stoll(id) == 0)
        throw fault("ID \"" + id + "\" is not an ad's ID (use --renumber to give new IDs)");
      if (!seen.insert(std::stoll(id)).second) throw fault("ad " + id + " appears twice in the file");
    }
    const std::optional<std::string>& expire = row.ad.values[8];
    if (!expire || !ParseIsoDate(*expire)) {
      throw fault("ad " + id + ": Expire \"" + expire.value_or("") + "\" is not a day written YYYY-MM-DD");
    }
    if (ClassifyPassword(row.ad.values[10]) == StoredPassword::kUntypable) {
      throw fault("ad " + id +
                  ": its Password has lower-case letters, which no one can type (the board upper-cases "
                  "what is typed); upper-case it in the file");
    }
    ads.push_back(std::move(row.ad));
  }
  const std::unique_ptr<Database> db = OpenSiteStore(inv, true);
  maintenance::ImportAds(*db, ads, renumber);
  inv.out << "Imported " << Counted(static_cast<long long>(ads.size()), "ad")
          << (renumber ? " with new IDs.\n" : ".\n");
}

void BackUp(const std::string& file, bool replace, Invocation& inv) {
  CheckOutputFile(file, replace, "backup", inv);
  const std::unique_ptr<Database> db = OpenSiteStore(inv);
  {
    const OwnerOnlyFiles ownerOnly;
    maintenance::BackupStore(*db, file);
  }
  inv.out << "Backed up the store to " << file << " (" << std::filesystem::file_size(file) << " bytes).\n";
}

}  // namespace

void AddTransferCommands(CLI::App& app, Invocation& inv) {
  const auto exportFile = std::make_shared<std::string>();
  CLI::App* exportCommand = app.add_subcommand(
      "export", "Write every column of every ad to FILE as CSV with a header row (- for standard output)");
  const auto exportForce = std::make_shared<bool>(false);
  exportCommand->add_option("FILE", *exportFile, "the CSV file to write (mode 0600)")->required();
  exportCommand->add_flag("--force", *exportForce, "replace FILE when it exists");
  exportCommand->callback([exportFile, exportForce, &inv] { ExportAds(*exportFile, *exportForce, inv); });

  const auto importFile = std::make_shared<std::string>();
  const auto renumber = std::make_shared<bool>(false);
  CLI::App* importCommand = app.add_subcommand(
      "import", "Add the ads of a CSV file as export writes it (- for standard input): all of them or none");
  importCommand->add_option("FILE", *importFile, "the CSV file to read")->required();
  importCommand->add_flag("--renumber", *renumber, "give the ads new IDs instead of keeping those of the file");
  importCommand->callback([importFile, renumber, &inv] { ImportAds(*importFile, *renumber, inv); });

  const auto backupFile = std::make_shared<std::string>();
  CLI::App* backup = app.add_subcommand("backup", "Copy the store to FILE, consistently, while the site serves");
  const auto backupForce = std::make_shared<bool>(false);
  backup->add_option("FILE", *backupFile, "the copy to write (mode 0600)")->required();
  backup->add_flag("--force", *backupForce, "replace FILE when it exists");
  backup->callback([backupFile, backupForce, &inv] { BackUp(*backupFile, *backupForce, inv); });
}

}  // namespace qb::admin
