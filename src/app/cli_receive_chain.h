#pragma once
// What a receive or preview run from the command line works with: the data root's spool, its
// list of mail left on servers, the blocked senders, and a chain over the service's account and
// then the POP3 accounts (an account without a saved password is skipped with a note).
#include <memory>

#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "incoming/blocked_senders.h"
#include "mailformat/spool.h"
#include "transport/left_on_server.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/receive_chain.h"

namespace px::cli {

class CliReceiveRun {
public:
  // command: the subcommand's name, for the notes.
  CliReceiveRun(const char* command, int timeoutMs, transport::pop3::Pop3Pace pace = {});

  Locations loc;
  Settings settings;
  RandomSource random;
  mailformat::MailSpool spool;
  transport::LeftOnServerList leftOnServer;
  incoming::BlockedSenders blocked;
  std::unique_ptr<transport::ThreadRecvChain> chain;
};

}  // namespace px::cli
