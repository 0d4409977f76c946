#pragma once
// The mail waiting on a POP3 account, seen without downloading it: sizes from LIST, keys from
// UIDL, and each header from TOP n 0.
#include <cstdint>
#include <string>
#include <vector>

#include "transport/accounts.h"
#include "transport/preview_item.h"

namespace px::transport::pop3 {

struct PreviewRow {
  std::string account;
  int64_t number = 0;     // the message's number in this session
  std::string key;        // UIDL ("" when the server has none): deletion goes by it
  std::string from, subject, date;  // decoded header values
  int64_t size = 0;
};

struct PreviewResult {
  std::vector<PreviewRow> rows;
  bool ok = false;
  std::string error;
};

PreviewResult PreviewAccount(const ExternalAccount& account, int timeoutMs);

// The preview row the window shows (fileName: the UIDL key; texts in UTF-8).
TMailPreviewItem PreviewItemOfRow(const PreviewRow& row);

// "(size + 500) div 1000" followed by "K".
std::string PreviewSizeText(int64_t size);

}  // namespace px::transport::pop3
