#include "platform/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>
#include <unistd.h>

namespace px::platform {

namespace {
// A peer that connects and sends nothing is dropped after this long.
constexpr int kIdleMs = 5000;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}
}  // namespace

SingleInstance::SingleInstance(std::string runtimeFolder, QObject* parent)
    : QObject(parent), folder_(std::move(runtimeFolder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_.push_back('/');
}

SingleInstance::~SingleInstance() {
  if (server_) server_->close();
  if (lock_) lock_->unlock();
}

bool SingleInstance::IsAcceptableRequest(std::string_view r) {
  if (r.empty() || static_cast<qsizetype>(r.size()) > kMaxRequest) return false;
  for (unsigned char c : r)
    if (c < 0x20 || c == 0x7F) return false;
  if (StartsWithNoCase(r, "mailto:") || r == kShowRequest) return true;
  return r.size() > 5 && StartsWithNoCase(r, "/web:") && r[5] >= '0' && r[5] <= '9';
}

SingleInstance::Role SingleInstance::Claim() {
  const QString folder = QString::fromStdString(folder_);
  QDir().mkpath(folder);
  // The folder may sit in a shared temporary folder: use it only when it is our own private
  // directory (not a link, not someone else's), so nobody can plant a socket or a lock in it.
  std::string bare = folder_;
  while (bare.size() > 1 && bare.back() == '/') bare.pop_back();
  struct stat st {};
  if (::lstat(bare.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
    role_ = Role::Failed;
    return role_;
  }
  if ((st.st_mode & 077) != 0) ::chmod(bare.c_str(), 0700);

  lock_ = std::make_unique<QLockFile>(QString::fromStdString(LockPath()));
  // Never stale by age: a desk runs for days. A lock left by a dead process is still detected.
  lock_->setStaleLockTime(0);
  if (!lock_->tryLock(0)) {
    if (lock_->error() == QLockFile::LockFailedError) {
      role_ = Role::Second;
      return role_;
    }
    role_ = Role::Failed;
    return role_;
  }
  // We hold the lock: any socket left behind belongs to a dead instance.
  const QString name = QString::fromStdString(SocketPath());
  QLocalServer::removeServer(name);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name)) {
    role_ = Role::Failed;  // runs on as the only instance, without hand-over
    return role_;
  }
  connect(server_, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
  role_ = Role::First;
  return role_;
}

void SingleInstance::OnNewConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    buffers_.insert(socket, QByteArray());
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      auto it = buffers_.find(socket);
      if (it == buffers_.end()) return;
      it->append(socket->readAll());
      if (it->size() > kMaxRequest + 1) {  // too long: drop it unread
        buffers_.erase(it);
        socket->abort();
        return;
      }
      if (it->contains('\n')) finish(socket);
    });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
      if (buffers_.contains(socket)) finish(socket);
      socket->deleteLater();
    });
    QTimer::singleShot(kIdleMs, socket, [this, socket] {
      buffers_.remove(socket);
      socket->abort();
    });
  }
}

void SingleInstance::finish(QLocalSocket* socket) {
  auto it = buffers_.find(socket);
  if (it == buffers_.end()) return;
  QByteArray data = *it;
  buffers_.erase(it);
  const qsizetype nl = data.indexOf('\n');
  if (nl >= 0) data.truncate(nl);
  if (data.endsWith('\r')) data.chop(1);
  socket->disconnectFromServer();
  const std::string request = data.toStdString();
  if (IsAcceptableRequest(request)) emit RequestReceived(QString::fromUtf8(data));
}

bool SingleInstance::Send(std::string_view request, int timeoutMs) {
  if (!IsAcceptableRequest(request)) return false;
  QDeadlineTimer deadline(timeoutMs);
  const QString name = QString::fromStdString(SocketPath());
  for (;;) {
    QLocalSocket socket;
    socket.connectToServer(name);
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
      QByteArray data(request.data(), static_cast<qsizetype>(request.size()));
      data.append('\n');
      socket.write(data);
      bool ok = true;
      while (socket.bytesToWrite() > 0 && ok) ok = socket.waitForBytesWritten(1000);
      socket.disconnectFromServer();
      if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
      return ok;
    }
    // The first instance holds the lock but may not be listening yet.
    if (deadline.hasExpired()) return false;
    QThread::msleep(50);
  }
}

}  // namespace px::platform
