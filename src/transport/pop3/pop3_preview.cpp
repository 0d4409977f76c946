#include "transport/pop3/pop3_preview.h"

#include <algorithm>

#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/mime_header.h"
#include "transport/pop3/pop3_client.h"

namespace px::transport::pop3 {

namespace {

constexpr int64_t kMaxPreviewRows = 100000;

// The value of one header field, unfolded and decoded.
std::string HeaderField(const std::string& header, std::string_view name) {
  std::string value;
  bool in = false;
  size_t pos = 0;
  while (pos < header.size()) {
    size_t end = header.find('\n', pos);
    if (end == std::string::npos) end = header.size();
    std::string_view line(header.data() + pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    if (line.empty()) break;
    if (line[0] == ' ' || line[0] == '\t') {
      if (in) value += " " + std::string(line.substr(line.find_first_not_of(" \t")));
      continue;
    }
    if (in) break;
    const size_t colon = line.find(':');
    if (colon != std::string_view::npos && SameText(line.substr(0, colon), name)) {
      in = true;
      value = std::string(line.substr(colon + 1));
    }
  }
  const size_t first = value.find_first_not_of(" \t");
  value = first == std::string::npos ? std::string() : value.substr(first);
  return mailformat::DecodeEncodedWords(value);
}

}  // namespace

std::string PreviewSizeText(int64_t size) { return std::to_string((size + 500) / 1000) + "K"; }

PreviewResult PreviewAccount(const ExternalAccount& account, int timeoutMs) {
  PreviewResult r;
  auto address = ParseServerAddress(account.server);
  if (!address) {
    r.error = "Not a server name: " + account.server;
    return r;
  }
  Pop3Client client;
  client.SetTimeout(timeoutMs);
  int64_t count = 0, total = 0;
  std::vector<int64_t> sizes;
  std::vector<std::string> keys;
  if (!client.Connect(address->host, address->port, account.security) ||
      !client.Login(account.user, account.password) || !client.Stat(count, total)) {
    r.error = client.errorText();
    client.Close();
    return r;
  }
  count = std::min(count, kMaxPreviewRows);
  if (count > 0 && !client.List(count, sizes)) {
    r.error = client.errorText();
    client.Close();
    return r;
  }
  if (count > 0 && !client.Uidl(count, keys)) keys.clear();  // keys are optional
  for (int64_t n = 1; n <= count; ++n) {
    std::string header;
    if (!client.Top(n, header)) {
      r.error = client.errorText();
      client.Close();
      return r;
    }
    PreviewRow row;
    row.account = account.name;
    row.number = n;
    // Both lists are indexed by message number.
    if (static_cast<size_t>(n) < keys.size()) row.key = keys[static_cast<size_t>(n)];
    if (static_cast<size_t>(n) < sizes.size()) row.size = std::max<int64_t>(0, sizes[static_cast<size_t>(n)]);
    row.from = HeaderField(header, "From");
    row.subject = HeaderField(header, "Subject");
    row.date = HeaderField(header, "Date");
    r.rows.push_back(std::move(row));
  }
  client.Quit();
  r.ok = true;
  return r;
}

}  // namespace px::transport::pop3
