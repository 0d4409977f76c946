#pragma once
// The mail waiting on an account as the preview shows it, and what a preview run is asked to
// do. A preview run is an ordinary receive run in which each link either lists its waiting
// mail (nothing is downloaded whole: the service's listing, POP3's LIST, UIDL and TOP n 0) or
// acts on the rows the user ticked, picking each message by the account's own key.
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/types.h"

namespace px::transport {

// The preview window's row of one message (TMailPreviewItem).
struct TMailPreviewItem {
  std::string account;
  // The key the account picks the message by: the service's stored file name, a POP3
  // server's UIDL. Never a position, which changes as soon as anything is deleted.
  std::string fileName;
  std::string sender;
  std::string recipients;
  std::string subject;
  std::string charset;  // of sender and subject; "" when they are already UTF-8
  DateTime date = 0;    // local time
  int64_t size = 0;
  std::string extension;
  std::string messageId;
  std::string partKey;
  bool ticked = false;
};

struct PreviewOrder {
  enum class Mode { Off, Listing, Receive, Delete };
  Mode mode = Mode::Off;
  // Receive and Delete: the rows of this account to work on.
  std::vector<TMailPreviewItem> items;
};

}  // namespace px::transport
