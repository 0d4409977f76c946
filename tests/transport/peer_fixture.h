#pragma once
// Starts the loopback service peer (tests/peer/service_peer.py) for one test and stops it at
// the end. Header-only so that any test program can use it.
#include "support/test_paths.h"
#include "transport/http_client.h"

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <unistd.h>

#include <string>
#include <vector>

namespace px::test {

class ServicePeer {
public:
  // users: "name:password" entries; extra: further peer options (--host-name, --expired).
  explicit ServicePeer(const std::vector<std::string>& users, const QStringList& extra = {}) {
    QStringList args{PeerScript(), "--port", "0", "--state", state_.path()};
    for (const auto& u : users) args << "--user" << QString::fromStdString(u);
    args << extra;
    proc_.setProcessChannelMode(QProcess::SeparateChannels);
    proc_.start("/usr/bin/python3", args);
    if (!proc_.waitForStarted(10000)) return;
    // The first line names the port; certificate making takes a moment.
    for (int i = 0; i < 300 && !proc_.canReadLine(); ++i) proc_.waitForReadyRead(100);
    const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
    const QString prefix = "listening on 127.0.0.1:";
    if (line.startsWith(prefix)) port_ = line.mid(prefix.size()).toInt();
  }
  ~ServicePeer() {
    if (proc_.state() != QProcess::NotRunning) {
      proc_.terminate();
      if (!proc_.waitForFinished(3000)) {
        proc_.kill();
        proc_.waitForFinished(3000);
      }
    }
  }
  ServicePeer(const ServicePeer&) = delete;
  ServicePeer& operator=(const ServicePeer&) = delete;

  static QString PeerScript() { return QStringLiteral(PX_TEST_DATA "/../peer/service_peer.py"); }
  bool Running() const { return port_ > 0; }
  int Port() const { return port_; }
  std::string Host() const { return "localhost:" + std::to_string(port_); }
  std::string State() const { return state_.path().toStdString() + "/"; }
  std::string CaFile() const { return State() + "ca.pem"; }
  std::string Url(const std::string& path) const { return "https://" + Host() + path; }
  // The stored mail of a user: one file per delivered record.
  std::string Mailbox(const std::string& user) const { return State() + "mail/" + user + "/"; }

  transport::HttpSettings Settings() const {
    transport::HttpSettings s;
    s.caFile = CaFile();
    s.connectTimeoutSec = 10;
    s.lowSpeedTimeSec = 20;
    return s;
  }
  // Adds a fault for one request kind ("putmail", "getfile", ...); query: "fault=status&status=401".
  bool AddFault(const std::string& kind, const std::string& query) const {
    transport::HttpClient c(Settings());
    return c.Get(Url("/_test/fault?kind=" + kind + "&" + query)).Ok();
  }
  bool ClearFaults() const {
    transport::HttpClient c(Settings());
    return c.Get(Url("/_test/fault?clear=1")).Ok();
  }
  // What the key server answers to "listkey" for `user` (empty: nothing published).
  bool SetKey(const std::string& user, const std::string& text) const {
    QTemporaryFile f;
    if (!f.open() || f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !f.flush())
      return false;
    ::lseek(f.handle(), 0, SEEK_SET);
    transport::HttpClient c(Settings());
    return c.PostStream(Url("/_test/key?user=" + user), f.handle(), static_cast<int64_t>(text.size())).Ok();
  }
  // The published keys as JSON text (user name -> armoured key).
  std::string Keys() const {
    transport::HttpClient c(Settings());
    return c.Get(Url("/_test/key")).body;
  }
  // The peer's log as JSON text.
  std::string Log() const {
    transport::HttpClient c(Settings());
    return c.Get(Url("/_test/log")).body;
  }

private:
  QTemporaryDir state_;
  QProcess proc_;
  int port_ = 0;
};

}  // namespace px::test
