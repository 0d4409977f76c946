#pragma once
// ThreadRecvSSL as a link of the receive chain: fetches the waiting mail of the service account.
// It reads the listing, passes over blocked senders (confirmed unread) and messages fetched
// before but kept on the server, downloads every other message into the spool and confirms it.
//
// A download is confirmed only once it is whole on the disk: written to a hidden file, checked
// against the listed size, flushed and renamed to ".$$7", its ".$$8" marker written and flushed,
// and the message remembered in "msgid.lst" (saved at once). When the confirmation then fails,
// the next run finds the message remembered and confirms it without fetching it again.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/http_client.h"
#include "transport/receive_link.h"
#include "transport/service_listing.h"

namespace px::transport {

struct ServiceAccount {
  std::string user;
  std::string password;
  std::string host;   // host or host:port
  HttpSettings http;
  bool keepOnServer = false;
  // Flush downloads to the disk before they count (tests of a throw-away tree may switch it off).
  bool sync = true;
};

class ServiceReceiveLink final : public ReceiveLink {
public:
  explicit ServiceReceiveLink(ServiceAccount account);
  ~ServiceReceiveLink() override;

  std::string AccountName() const override;
  bool IsService() const override { return true; }
  bool NeedsPassword() const override { return account_.password.empty(); }
  void SetPassword(const std::string& password) override { account_.password = password; }
  LinkResult Run(ReceiveContext& context) override;
  void Stop() override;

  // Listing: the waiting messages are told as preview rows (receipts never; nothing is
  // fetched or confirmed). Receive or Delete: only the order's rows, by their file names;
  // each one done is told as handled.
  bool SetPreview(PreviewOrder order) override;

  // The left-on-server line of a stored file.
  std::string LeftOnServerKey(const std::string& fileName) const;

private:
  enum class Fetch { Ok, Skipped, Fatal };
  Fetch download(ReceiveContext& ctx, const ListedMessage& m, int64_t base, std::string& error);
  bool confirm(const ListedMessage& m, bool withReceipt, std::string& error);
  bool stopped() const { return stop_.load(); }

  ServiceAccount account_;
  std::unique_ptr<HttpClient> client_;
  std::mutex clientMutex_;
  std::atomic<bool> stop_{false};
  PreviewOrder preview_;
};

}  // namespace px::transport
