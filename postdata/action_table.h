#pragma once
// The actions a request may name, and what each needs.
#include <string_view>

namespace qb {

struct Request;

// What an action does with the ad store. An action may open the store only
// when it uses it, and take the store's write lock only when it writes.
enum class StoreUse { kNone, kReads, kWrites };

// The page a failure gets.
enum class ErrorPage {
  kGateway,      // replaces the whole response (on a pipe, follows what was sent)
  kApplication,  // follows what the handler has written, with the navigation bar
};

struct Action {
  std::string_view name;  // as the request names it, upper-cased
  void (*handler)(Request&);
  StoreUse store;
  // The page for a failure during the handler's store work: from the moment
  // its query is under way until it has read what it needs and closes it
  // (Request::inStoreWork). Every other failure, opening the store and
  // taking its write lock among them, gets the gateway error page.
  ErrorPage storeWorkFailure;
};

// The action named `name` (upper-cased), or null when the board has none.
const Action* FindAction(std::string_view name);

}  // namespace qb
