#include "transport/imap/imap_idle.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#include "transport/imap/imap_client.h"

namespace px::transport::imap {

struct ImapIdleWatch::Watch {
  ExternalAccount account;
  std::string signature;
  std::thread thread;
  std::mutex mutex;
  std::condition_variable wake;
  std::atomic<bool> stop{false};
  ImapClient* client = nullptr;  // under mutex

  void Stop() {
    stop = true;
    std::lock_guard<std::mutex> lock(mutex);
    if (client) client->Stop();
    wake.notify_all();
  }
};

namespace {

std::string Signature(const ExternalAccount& a) {
  return a.name + "\n" + a.server + "\n" + a.user + "\n" + a.password + "\n" +
         std::string(pop3::SecurityName(a.security)) + "\n" + a.ImapFolders().front();
}

}  // namespace

ImapIdleWatch::ImapIdleWatch(IdleTiming timing, QObject* parent) : QObject(parent), timing_(timing) {}

ImapIdleWatch::~ImapIdleWatch() { StopAll(); }

bool ImapIdleWatch::Watchable(const ExternalAccount& a) {
  // Accounts signed in with OAuth2 are left to the timed checks: a watch that renewed their
  // token could not save the renewal.
  return a.IsImap() && a.enabled && a.IsComplete() && !a.password.empty() && a.Option("idle") != "0" &&
         a.Option("oauth2").empty();
}

int ImapIdleWatch::Watching() const { return static_cast<int>(watches_.size()); }

void ImapIdleWatch::StopAll() {
  for (auto& w : watches_) w->Stop();
  for (auto& w : watches_)
    if (w->thread.joinable()) w->thread.join();
  watches_.clear();
}

void ImapIdleWatch::Update(const std::vector<ExternalAccount>& accounts) {
  std::vector<std::string> wanted;
  for (const auto& a : accounts)
    if (Watchable(a)) wanted.push_back(Signature(a));
  // Watches of accounts that changed or went away stop.
  std::vector<std::unique_ptr<Watch>> keep;
  for (auto& w : watches_) {
    if (std::find(wanted.begin(), wanted.end(), w->signature) != wanted.end()) {
      keep.push_back(std::move(w));
      continue;
    }
    w->Stop();
    if (w->thread.joinable()) w->thread.join();
  }
  watches_ = std::move(keep);
  for (const auto& a : accounts) {
    if (!Watchable(a)) continue;
    std::string sig = Signature(a);
    bool running = std::any_of(watches_.begin(), watches_.end(), [&](const auto& w) { return w->signature == sig; });
    if (running) continue;
    auto w = std::make_unique<Watch>();
    w->account = a;
    w->signature = sig;
    Watch* raw = w.get();
    watches_.push_back(std::move(w));
    raw->thread = std::thread([this, raw] { Loop(*raw); });
  }
}

void ImapIdleWatch::Loop(Watch& w) {
  int retryMs = timing_.firstRetryMs;
  const QString name = QString::fromStdString(w.account.name);
  const std::string folder = w.account.ImapFolders().front();
  uint32_t lastUidNext = 0;
  while (!w.stop) {
    ImapClient client;
    {
      std::lock_guard<std::mutex> lock(w.mutex);
      if (w.stop) break;
      w.client = &client;
    }
    client.SetTimeout(timing_.timeoutMs);
    bool sessionWorked = false;
    auto address = pop3::ParseServerAddress(w.account.server);
    MailboxState box;
    if (address && client.Connect(address->host, address->port, w.account.security) &&
        client.Login(w.account.user, w.account.password) && client.Select(folder, true, box)) {
      // Mail that came while nobody watched (before the first connection, or between two)
      // is announced too.
      if ((lastUidNext == 0 && box.exists > 0) || (lastUidNext != 0 && box.uidNext != lastUidNext)) emit newMail(name);
      lastUidNext = box.uidNext ? box.uidNext : 1;
      for (;;) {
        bool grew = false;
        if (!client.Idle(timing_.idleMs, grew)) break;
        sessionWorked = true;
        if (grew) emit newMail(name);
      }
    }
    client.Close();
    {
      std::lock_guard<std::mutex> lock(w.mutex);
      w.client = nullptr;
    }
    // A log-in the server refuses is not tried again until the account changes.
    if (client.error() == ErrorKind::LoginRejected || client.error() == ErrorKind::NeedsOAuth) break;
    if (sessionWorked) retryMs = timing_.firstRetryMs;
    std::unique_lock<std::mutex> lock(w.mutex);
    w.wake.wait_for(lock, std::chrono::milliseconds(retryMs), [&] { return w.stop.load(); });
    retryMs = std::min(retryMs * 2, timing_.maxRetryMs);
  }
}

}  // namespace px::transport::imap
