#pragma once
// ThreadRecvPOP: the receive chain's link for one POP3 account. It fetches every message the
// account has not fetched before into the spool, stamped with the account's name, and deletes
// it on the server unless the account keeps its mail there.
//
// Nothing is marked for deletion before it is safely on disk, and a fetched message is
// remembered in the left-on-server list (by its UIDL) until the server has acknowledged QUIT,
// which is when it really deletes: a connection lost before then means the next run finds the
// messages again, deletes them without fetching them twice, and loses nothing.
#include "transport/accounts.h"
#include "transport/pop3/pop3_client.h"
#include "transport/receive_link.h"

namespace px::transport::pop3 {

// How slow a server may be before a run gives up on it. A message must arrive within
// graceMs + its size / minRate; the whole account within 2 * graceMs + the size of what it
// fetches / minRate. A server that trickles its bytes (each read well within the time-out)
// is thus abandoned all the same, and what arrived before it is kept.
struct Pop3Pace {
  int64_t graceMs = 120000;
  int64_t minBytesPerSecond = 1024;
};

class ThreadRecvPOP : public ReceiveLink {
public:
  explicit ThreadRecvPOP(ExternalAccount account, int timeoutMs = 180000, Pop3Pace pace = {});

  std::string AccountName() const override { return account_.name; }
  bool NeedsPassword() const override { return account_.password.empty(); }
  void SetPassword(const std::string& password) override { account_.password = password; }
  LinkResult Run(ReceiveContext& context) override;
  void Stop() override { client_.Stop(); }
  // Listing: every waiting message not fetched before and not from a blocked sender is told
  // from LIST, UIDL and TOP n 0. Receive or Delete: only the order's rows, found by their UIDL
  // (a server without UIDL refuses: positions are never trusted); each one done is told.
  bool SetPreview(PreviewOrder order) override {
    preview_ = std::move(order);
    return true;
  }

  // The left-on-server line prefix of this account: user + "@" + server + " ". The server as
  // written, port and all: two mailboxes of one user on one host never share their lines.
  static std::string KeyPrefix(const ExternalAccount& account);

private:
  LinkResult RunPreview(ReceiveContext& context);  // pop3_preview.cpp

  ExternalAccount account_;
  int timeoutMs_;
  Pop3Pace pace_;
  Pop3Client client_;
  PreviewOrder preview_;
};

}  // namespace px::transport::pop3

namespace px::transport {
class ThreadRecvChain;
}

namespace px::transport::pop3 {

// Adds a link for every POP3 account in `accounts`, in order, ticked when the account is
// enabled and has a server and a user. Accounts on the mail service itself are left to the
// service's own link.
void AddPop3Links(ThreadRecvChain& chain, const std::vector<ExternalAccount>& accounts,
                  int timeoutMs = 180000, Pop3Pace pace = {});

}  // namespace px::transport::pop3
