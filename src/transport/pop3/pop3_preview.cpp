#include "transport/pop3/pop3_preview.h"

#include <algorithm>
#include <map>

#include "foundation/address.h"
#include "foundation/charset.h"
#include "foundation/text_case.h"
#include "mailformat/codecs.h"
#include "mailformat/mail_date.h"
#include "mailformat/mime_header.h"
#include "transport/left_on_server.h"
#include "transport/pop3/network_message.h"
#include "transport/pop3/pop3_client.h"
#include "transport/pop3/thread_recv_pop.h"

namespace px::transport::pop3 {

namespace {

constexpr int64_t kMaxPreviewRows = 100000;
constexpr std::string_view kUidlKey = "uidl:";

// The value of one header field, unfolded and decoded to UTF-8.
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
  std::string charset;
  std::string decoded = mailformat::DecodeEncodedWords(value, &charset);
  if (!charset.empty() && !SameText(charset, "UTF-8")) decoded = DecodeFromCharset(decoded, charset);
  return decoded;
}

// Reads the waiting messages of a logged-in session: sizes from LIST, keys from UIDL (when the
// server has it), each header from TOP n 0.
bool ListWaiting(Pop3Client& client, const std::string& account, std::vector<PreviewRow>& rows,
                 std::string& error) {
  int64_t count = 0, total = 0;
  std::vector<int64_t> sizes;
  std::vector<std::string> keys;
  if (!client.Stat(count, total)) {
    error = client.errorText();
    return false;
  }
  count = std::min(count, kMaxPreviewRows);
  if (count > 0 && !client.List(count, sizes)) {
    error = client.errorText();
    return false;
  }
  if (count > 0 && !client.Uidl(count, keys)) {
    if (!client.IsUsable()) {
      error = client.errorText();
      return false;
    }
    keys.clear();  // keys are optional for a listing
  }
  for (int64_t n = 1; n <= count; ++n) {
    std::string header;
    if (!client.Top(n, header)) {
      error = client.errorText();
      return false;
    }
    PreviewRow row;
    row.account = account;
    row.number = n;
    // Both lists are indexed by message number.
    if (static_cast<size_t>(n) < keys.size()) row.key = keys[static_cast<size_t>(n)];
    if (static_cast<size_t>(n) < sizes.size()) row.size = std::max<int64_t>(0, sizes[static_cast<size_t>(n)]);
    row.from = HeaderField(header, "From");
    row.subject = HeaderField(header, "Subject");
    row.date = HeaderField(header, "Date");
    rows.push_back(std::move(row));
  }
  return true;
}

bool OpenSession(Pop3Client& client, const ExternalAccount& account, int timeoutMs, std::string& error) {
  auto address = ParseServerAddress(account.server);
  if (!address) {
    error = "Not a server name: " + account.server;
    return false;
  }
  client.SetTimeout(timeoutMs);
  if (!client.Connect(address->host, address->port, account.security) ||
      !client.Login(account.user, account.password)) {
    error = client.errorText();
    client.Close();
    return false;
  }
  return true;
}

}  // namespace

std::string PreviewSizeText(int64_t size) { return std::to_string((size + 500) / 1000) + "K"; }

PreviewResult PreviewAccount(const ExternalAccount& account, int timeoutMs) {
  PreviewResult r;
  Pop3Client client;
  if (!OpenSession(client, account, timeoutMs, r.error)) return r;
  if (!ListWaiting(client, account.name, r.rows, r.error)) {
    r.rows.clear();
    client.Close();
    return r;
  }
  client.Quit();
  r.ok = true;
  return r;
}

TMailPreviewItem PreviewItemOfRow(const PreviewRow& row) {
  TMailPreviewItem item;
  item.account = row.account;
  item.fileName = row.key;
  item.partKey = row.key;
  item.sender = row.from;
  item.subject = row.subject;
  item.date = mailformat::UtcToLocal(mailformat::ParseMailDate(row.date));
  item.size = row.size;
  return item;
}

LinkResult ThreadRecvPOP::RunPreview(ReceiveContext& ctx) {
  using Mode = PreviewOrder::Mode;
  LinkResult result;
  const PreviewOrder& order = preview_;
  // An action for another account's rows: this account is not visited at all.
  if (order.mode != Mode::Listing && order.items.empty()) return result;
  auto fail = [&](LinkStatus status, const std::string& text) {
    if (result.status != LinkStatus::Ok) return;
    result.status = client_.IsStopped() ? LinkStatus::Stopped : status;
    result.error = text;
  };
  ctx.events.ShowSkip();
  std::string error;
  if (!OpenSession(client_, account_, timeoutMs_, error)) {
    const ErrorKind kind = client_.error();
    result.status = kind == ErrorKind::Stopped         ? LinkStatus::Stopped
                    : kind == ErrorKind::LoginRejected ? LinkStatus::WrongPassword
                                                       : LinkStatus::ConnectFailed;
    result.error = error;
    return result;
  }
  LeftOnServerList& list = ctx.leftOnServer;
  const std::string prefix = KeyPrefix(account_);

  if (order.mode == Mode::Listing) {
    std::vector<PreviewRow> rows;
    if (!ListWaiting(client_, account_.name, rows, error)) {
      fail(LinkStatus::ReceiveFailed, error);
      client_.Close();
      return result;
    }
    for (const PreviewRow& row : rows) {
      // What was fetched before and kept on the server is not waiting; a blocked sender's mail
      // goes unread with the next run.
      if (!row.key.empty() && list.Contains(prefix + std::string(kUidlKey) + row.key)) continue;
      if (ctx.isBlocked && !row.from.empty() && ctx.isBlocked(FoldCase(BareAddressOf(row.from)))) continue;
      ctx.events.PreviewListed(PreviewItemOfRow(row));
    }
    if (!client_.Quit()) fail(LinkStatus::ReceiveFailed, client_.errorText());
    return result;
  }

  // Receive or delete the chosen rows, each found by its key.
  int64_t count = 0, total = 0;
  std::vector<std::string> uids;
  std::vector<int64_t> sizes;
  if (!client_.Stat(count, total) || (count > 0 && (!client_.List(count, sizes) || !client_.Uidl(count, uids)))) {
    fail(LinkStatus::ReceiveFailed, client_.IsUsable() ? "The server gives its messages no keys (UIDL): "
                                                         "they cannot be chosen one by one."
                                                       : client_.errorText());
    if (client_.IsUsable()) client_.Quit();
    else client_.Close();
    return result;
  }
  std::map<std::string, int64_t> numberOf;
  for (int64_t n = 1; n <= count && static_cast<size_t>(n) < uids.size(); ++n)
    if (!uids[static_cast<size_t>(n)].empty()) numberOf.emplace(uids[static_cast<size_t>(n)], n);

  std::vector<std::string> done;          // handled whatever QUIT says (received and kept, or gone)
  std::vector<std::string> deletedKeys;   // handled once QUIT is acknowledged
  int64_t want = 0;
  for (const auto& item : order.items) want += std::max<int64_t>(item.size, 0);
  if (order.mode == Mode::Receive) ctx.events.ReceiveStarting(want);
  int64_t base = 0;
  for (const auto& item : order.items) {
    if (client_.IsStopped() || !client_.IsUsable()) break;
    auto at = numberOf.find(item.fileName);
    if (item.fileName.empty()) {
      fail(LinkStatus::ReceiveFailed, "A message without a key cannot be chosen.");
      continue;
    }
    if (at == numberOf.end()) {
      done.push_back(item.fileName);  // no longer on the server
      continue;
    }
    const int64_t n = at->second;
    const std::string key = prefix + std::string(kUidlKey) + item.fileName;
    if (order.mode == Mode::Receive && !list.Contains(key)) {
      NetworkMessageWriter writer;
      if (!writer.Open(ctx.spool, account_.name)) {
        fail(LinkStatus::ReceiveFailed, writer.errorText());
        break;
      }
      const int64_t listed = static_cast<size_t>(n) < sizes.size() ? sizes[static_cast<size_t>(n)] : -1;
      const uint64_t cap = listed < 0 ? 512ull * 1024 * 1024 : uint64_t(listed) * 2 + 64 * 1024;
      bool diskFailed = false;
      int64_t got = 0;
      const bool ok = client_.Retr(n, cap, [&](std::string_view line) {
        if (!writer.Line(line)) {
          diskFailed = true;
          return false;
        }
        got += static_cast<int64_t>(line.size());
        ctx.events.Progress(base + got);
        return true;
      });
      if (!ok || diskFailed || !writer.Commit(key)) {
        writer.Discard();
        fail(LinkStatus::ReceiveFailed, diskFailed || ok ? writer.errorText() : client_.errorText());
        if (diskFailed) break;
        continue;
      }
      base += got;
      ++result.messagesSpooled;
      ctx.events.MessageSpooled(writer.Path());
      // Remembered on the disk before its DELE: a run cut off before QUIT does not fetch it again.
      list.Add(key);
      if (!list.SaveIfModified(&error)) {
        fail(LinkStatus::ReceiveFailed, error);
        done.push_back(item.fileName);
        break;
      }
    }
    if (order.mode == Mode::Receive && account_.keep) {
      list.Add(key);
      done.push_back(item.fileName);
      continue;
    }
    if (!client_.Dele(n)) {
      fail(LinkStatus::ReceiveFailed, client_.errorText());
      // A received message is in the spool all the same.
      if (order.mode == Mode::Receive) done.push_back(item.fileName);
      continue;
    }
    if (order.mode == Mode::Receive) done.push_back(item.fileName);
    else deletedKeys.push_back(item.fileName);
  }
  if (order.mode == Mode::Receive) ctx.events.ReceiveFinished();
  const bool quit = client_.IsUsable() && client_.Quit();
  if (!quit) {
    fail(LinkStatus::ReceiveFailed, client_.errorText());
    client_.Close();
  } else {
    // The server has now deleted what it accepted DELE for.
    for (const auto& k : deletedKeys) list.Remove(prefix + std::string(kUidlKey) + k);
    for (const auto& k : done)
      if (!account_.keep || order.mode == Mode::Delete) list.Remove(prefix + std::string(kUidlKey) + k);
    done.insert(done.end(), deletedKeys.begin(), deletedKeys.end());
  }
  (void)list.SaveIfModified(&error);
  for (const auto& k : done) ctx.events.PreviewHandled(account_.name, k);
  return result;
}

}  // namespace px::transport::pop3
