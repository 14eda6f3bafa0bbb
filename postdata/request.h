#pragma once
// One request as the application answers it: what the gateway captured,
// the site it is answered for, the database slots its handler fills and the
// action it runs. The process's Host is lent to it; nothing here outlives it.
#include <memory>
#include <string>

#include "gateway/request.h"
#include "gateway/site.h"
#include "postdata/action_table.h"
#include "postdata/database_slots.h"
#include "postdata/host.h"
#include "storage/write_transaction.h"

namespace qb {

struct Request : CgiRequest {
  // A CGI request: the response written to `outputFd`.
  Request(Host& process, BodyReader body, EnvLookup environment, int outputFd)
      : CgiRequest(std::move(body), std::move(environment), process.log, outputFd), host(process) {}
  // A request of a resident process: the response held whole.
  Request(Host& process, BodyReader body, EnvLookup environment, HoldWhole)
      : CgiRequest(std::move(body), std::move(environment), process.log, HoldWhole{}), host(process) {}

  Host& host;
  // The site, from the moment its settings are read (the lists follow
  // before the application runs).
  std::shared_ptr<const Site> site;
  // The program's full address, which pages link to: the site's ScriptUrl
  // and the program's file name.
  std::string script;
  const Action* action = nullptr;  // the action being run
  DatabaseSlots slots;
  // Whether the handler's store work is under way, which decides the page a
  // failure gets (Action::storeWorkFailure). Handlers set it when their query
  // is under way and clear it before they close it.
  bool inStoreWork = false;

  // Opens the site's store: afresh, or on the connection a resident process
  // keeps. Raises kErrInternal for an action that declares no store use.
  std::unique_ptr<Database> OpenStore() const;
  // The store's write lock on the open database, held until the transaction
  // commits. Raises kErrInternal for an action that does not declare writes.
  WriteTransaction BeginWrite() const;
};

}  // namespace qb
