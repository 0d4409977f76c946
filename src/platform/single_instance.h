#pragma once
// One desk per user. The first start takes a lock file in the user's runtime folder (the lock,
// not a window search, decides, so two starts at the same moment cannot both win) and listens
// on a local socket private to the user. A later start hands its request (a mailto URL or a
// "/web:" + digit request) to the first over that socket and exits.
//
// The socket carries one request per connection, at most kMaxRequest bytes, ended by "\n" or
// by closing the connection; anything that is not an acceptable request is ignored.
#include <QByteArray>
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <string_view>

// QtNetwork is this layer's own library: its classes are named here, never included.
class QLocalServer;
class QLocalSocket;

namespace px::platform {

class SingleInstance : public QObject {
  Q_OBJECT
public:
  static constexpr qsizetype kMaxRequest = 64 * 1024;
  // What a second start without arguments sends: the running desk comes forward.
  static constexpr const char* kShowRequest = "/show";

  enum class Role { First, Second, Failed };

  // `runtimeFolder` ends in "/"; it is created with mode 0700 when missing.
  explicit SingleInstance(std::string runtimeFolder, QObject* parent = nullptr);
  ~SingleInstance() override;

  // Takes the lock and starts listening (First), or finds another instance holding it (Second).
  // Failed: the folder or the socket could not be set up; the caller runs on without hand-over.
  Role Claim();
  Role role() const { return role_; }

  // Second instance: delivers `request` to the first. Retries while the first is still starting
  // its listener, up to `timeoutMs`. False when it could not be delivered.
  bool Send(std::string_view request, int timeoutMs = 5000);

  // "mailto:" URLs (any case) and "/web:" followed by a digit, without control characters,
  // at most kMaxRequest bytes.
  static bool IsAcceptableRequest(std::string_view request);

  std::string LockPath() const { return folder_ + "plumadex.lock"; }
  std::string SocketPath() const { return folder_ + "plumadex.sock"; }

signals:
  // An acceptable request arrived from another start.
  void RequestReceived(const QString& request);

private:
  void OnNewConnection();
  void finish(QLocalSocket* socket);

  std::string folder_;
  Role role_ = Role::Failed;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer* server_ = nullptr;
  QHash<QLocalSocket*, QByteArray> buffers_;
};

}  // namespace px::platform
