#include "postdata/ad_table.h"

namespace qb {

AdTableColumns::AdTableColumns(const Recordset& ads)
    : item(ads.FieldColumn("Item")),
      price(ads.FieldColumn("Price")),
      date(ads.FieldColumn("Date")),
      name(ads.FieldColumn("Name")),
      email(ads.FieldColumn("Email")),
      phone(ads.FieldColumn("Phone")),
      desc(ads.FieldColumn("Desc")) {}

void SendAdTable(Request& req, const Recordset& ad, const AdTableColumns& columns, AdTableForm form) {
  ResponseWriter& out = req.out;
  const Trusted sep{"</td><td align=\"center\" bgcolor=\"white\">"};
  out.SendLine({"<table width=\"90%\" align=\"center\" cellspacing=\"0\" cellpadding=\"2\" border=\"1\">"});
  out.SendLine({form == AdTableForm::kCategory ? Trusted{"<tr><td colspan=\"5\""} : Trusted{"<tr><td  colspan=\"5\""},
                " align=\"center\" bgcolor=\"white\"><font size=\"+1\" color=\"maroon\" bgcolor=\"white\"><b>",
                ad.FieldAt(columns.item), "</b></font></td></tr>"});
  out.SendLine(
      {"<tr><td bgcolor=\"silver\" Align=\"center\"><b>Price: </b></td><td bgcolor=\"silver\" "
       "Align=\"center\"><b>Date: </b></td><td bgcolor=\"silver\" Align=\"center\"><b>Seller: "
       "</b></td><td bgcolor=\"silver\" Align=\"center\"><b>Email: </b></td><td bgcolor=\"silver\" "
       "Align=\"center\"><b>Phone: </b></td></tr>"});
  const std::string_view email = ad.FieldAt(columns.email);
  out.SendLine({"<tr><td align=\"center\" bgcolor=\"white\">$", ad.FieldAt(columns.price), sep,
                ad.FieldAt(columns.date), sep, ad.FieldAt(columns.name), sep, "<a href=\"mailto:", email, "\">", email,
                "</a>", sep, ad.FieldAt(columns.phone), "</td></tr>"});
  out.SendLine({"<tr><td bgcolor=\"silver\" Align=\"center\" colspan=\"5\"><b>Description: </b></td></tr>"});
  out.SendLine({"<tr><td colspan=\"5\" bgcolor=\"white\">", ad.FieldAt(columns.desc), "</td></tr>"});
  out.SendLine({"</table><p>"});
}

}  // namespace qb
