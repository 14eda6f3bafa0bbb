#include "postdata/ad_table.h"

namespace qb {

void SendAdTable(Request& req, const Recordset& ad, AdTableForm form) {
  ResponseWriter& out = req.out;
  const Trusted sep{"</td><td align=\"center\" bgcolor=\"white\">"};
  out.SendLine({"<table width=\"90%\" align=\"center\" cellspacing=\"0\" cellpadding=\"2\" border=\"1\">"});
  out.SendLine({form == AdTableForm::kCategory ? Trusted{"<tr><td colspan=\"5\""} : Trusted{"<tr><td  colspan=\"5\""},
                " align=\"center\" bgcolor=\"white\"><font size=\"+1\" color=\"maroon\" bgcolor=\"white\"><b>",
                ad.Field("Item"), "</b></font></td></tr>"});
  out.SendLine(
      {"<tr><td bgcolor=\"silver\" Align=\"center\"><b>Price: </b></td><td bgcolor=\"silver\" "
       "Align=\"center\"><b>Date: </b></td><td bgcolor=\"silver\" Align=\"center\"><b>Seller: "
       "</b></td><td bgcolor=\"silver\" Align=\"center\"><b>Email: </b></td><td bgcolor=\"silver\" "
       "Align=\"center\"><b>Phone: </b></td></tr>"});
  const std::string_view email = ad.Field("Email");
  out.SendLine({"<tr><td align=\"center\" bgcolor=\"white\">$", ad.Field("Price"), sep, ad.Field("Date"), sep,
                ad.Field("Name"), sep, "<a href=\"mailto:", email, "\">", email, "</a>", sep, ad.Field("Phone"),
                "</td></tr>"});
  out.SendLine({"<tr><td bgcolor=\"silver\" Align=\"center\" colspan=\"5\"><b>Description: </b></td></tr>"});
  out.SendLine({"<tr><td colspan=\"5\" bgcolor=\"white\">", ad.Field("Desc"), "</td></tr>"});
  out.SendLine({"</table><p>"});
}

}  // namespace qb
