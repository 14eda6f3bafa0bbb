#include "gateway/site_config.h"

#include "gateway/value_list_reader.h"

namespace qb {

void LoadSiteConfig(const std::string& programDir, SiteConfig& config, std::vector<FileStamp>* stamps) {
  config.BannersEnabled = false;
  ValueListReader reader = ValueListReader::FromFile(programDir + "/qbcgi.cfg", "qbcgi.cfg", stamps);
  config.AdminEmail = reader.NextText();
  config.ExpireDays = reader.NextNumber();
  config.ScriptUrl = reader.NextText();
  config.HomeUrl = reader.NextText();
  std::string bannerSwitch = reader.NextText();
  config.BodyColor = reader.NextText();
  config.StoreConnection = reader.HasMore() ? reader.NextText() : "";
  if (config.ScriptUrl.empty() || config.ScriptUrl.back() != '/') config.ScriptUrl += '/';
  config.BannersEnabled = bannerSwitch == "Y" || bannerSwitch == "y";
}

}  // namespace qb
