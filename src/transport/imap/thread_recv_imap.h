#pragma once
// The receive chain's link for one IMAP account. For each of the account's folders it fetches
// the messages it has not fetched before (BODY.PEEK[], so the server's read state stays as it
// was), stamped with the account's name, into the spool; and, unless the account keeps its
// mail on the server, flags them \Deleted and expunges them once they are safely on disk.
//
// What was fetched is remembered in the left-on-server list by (account, folder, UIDVALIDITY,
// UID) with the message's Message-ID (or a digest of its header): a change of UIDVALIDITY
// re-reads the headers and recognises what was fetched before, so nothing comes twice. A
// folder's UIDVALIDITY and UIDNEXT are remembered too, so an unchanged folder costs one SELECT.
#include "transport/accounts.h"
#include "transport/imap/imap_client.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/receive_link.h"

namespace px::transport {
class ThreadRecvChain;
}

namespace px::transport::imap {

class ThreadRecvIMAP : public ReceiveLink {
public:
  explicit ThreadRecvIMAP(ExternalAccount account, int timeoutMs = 180000);

  std::string AccountName() const override { return account_.name; }
  bool NeedsPassword() const override { return account_.password.empty(); }
  void SetPassword(const std::string& password) override { account_.password = password; }
  LinkResult Run(ReceiveContext& context) override;
  void Stop() override { client_.Stop(); }

  // The left-on-server line prefix of one folder of the account:
  // "imap:" + user + "@" + server + "/" + folder (blanks and "%" escaped) + " ".
  static std::string KeyPrefix(const ExternalAccount& account, const std::string& folder);

private:
  // One folder; false when the session broke.
  bool ReceiveFolder(ReceiveContext& ctx, const std::string& folder, LinkResult& result);

  ExternalAccount account_;
  int timeoutMs_;
  ImapClient client_;
};

// Adds a link for every external account in `accounts`, in order: IMAP links for IMAP
// accounts, POP3 links for the others; ticked when the account is enabled and has a server and
// a user. Accounts on the mail service itself are left to the service's own link.
void AddExternalLinks(ThreadRecvChain& chain, const std::vector<ExternalAccount>& accounts, int timeoutMs = 180000,
                      pop3::Pop3Pace pace = {});

}  // namespace px::transport::imap
