#pragma once
// The pieces many pages share: the notice comment, the navigation bar, the
// banner block and the footer notice. Each is one line.
#include "postdata/request.h"

namespace qb {

// Where the main page's welcome line links for the publisher.
inline constexpr char kPublisherName[] = "the Quaybill project";
inline constexpr char kPublisherUrl[] = "https://quaybill.org/";

void SendNoticeComment(Request& req);

enum class NavBarForm {
  kUsual,      // centred
  kUncentred,  // the update confirmation's variant, without the opening <center>
};
void SendNavigationBar(Request& req, NavBarForm form = NavBarForm::kUsual);

// Writes the banner block, choosing one of the BannerCount entries afresh
// each time; only called when banners are enabled.
void SendBannerBlock(Request& req);
// The entry number for a uniform draw r in [0, 1): the whole part of
// BannerCount * r + 1, kept within the list (a count of 0 gives entry 1).
int BannerEntryFor(int bannerCount, float r);

// "NOTE: Ads placed on this system will expire in N Days", shared by the main
// page and the new-ad form.
void SendExpiryNote(Request& req);

// The body line most pages share: BodyColor background, small verdana text.
void SendListBodyLine(Request& req);

// The option list of the category select box: "<option>" and each of the
// eight names; with `selected`, a ninth option "<Option Selected>" and that
// text; then "</select></td></tr>". One line.
void SendCategoryOptions(Request& req, const std::string* selected);

enum class FooterForm { kPlain, kCentred, kCentreFirst };
void SendFooterNotice(Request& req, FooterForm form);

}  // namespace qb
