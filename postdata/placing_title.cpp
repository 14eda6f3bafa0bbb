#include "postdata/placing_title.h"

namespace qb {

void SendPlacingTitleLine(Request& req) {
  req.out.SendLine({"<html><head><title>Quaybill/32-HTML - Enter New Add</title></head><body bgcolor=\"",
                    Trusted{req.site->config.BodyColor}, "\">"});
}

}  // namespace qb
