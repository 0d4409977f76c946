#include "pop3/pop3_servers.h"

#include <QDir>
#include <QThread>

#include <algorithm>
#include <set>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "support/test_paths.h"
#include "support/test_support.h"

namespace px::test {

namespace {

bool Run(const QString& program, const QStringList& args, std::string* error) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    if (error)
      *error = program.toStdString() + " failed: " + p.readAll().toStdString() + p.errorString().toStdString();
    return false;
  }
  return true;
}

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

bool CanConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(folder.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') names.emplace_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

constexpr int kUsers = 100;

// Sequence numbers in file names that sort as numbers do.
std::string Seq(int n) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08d", n);
  return buf;
}

}  // namespace

std::optional<TestCa> MakeTestCa(const std::string& dir, std::string* error) {
  TestCa ca;
  ca.caFile = dir + "/ca.crt";
  ca.certFile = dir + "/server.crt";
  ca.keyFile = dir + "/server.key";
  ca.otherCaFile = dir + "/other-ca.crt";
  QString d = QString::fromStdString(dir);
  writeFile(dir + "/ext.cnf", "subjectAltName=DNS:localhost,IP:127.0.0.1\n");
  const QString openssl = "openssl";
  if (!Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/ca.key", "-out",
                     d + "/ca.crt", "-days", "2", "-subj", "/CN=Plumadex Test CA"}, error) ||
      !Run(openssl, {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/other-ca.key", "-out",
                     d + "/other-ca.crt", "-days", "2", "-subj", "/CN=Other Test CA"}, error) ||
      !Run(openssl, {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "/server.key", "-out",
                     d + "/server.csr", "-subj", "/CN=localhost"}, error) ||
      !Run(openssl, {"x509", "-req", "-in", d + "/server.csr", "-CA", d + "/ca.crt", "-CAkey", d + "/ca.key",
                     "-CAcreateserial", "-out", d + "/server.crt", "-days", "2", "-extfile", d + "/ext.cnf"},
           error))
    return std::nullopt;
  return ca;
}

ScopedCertFile::ScopedCertFile(const std::string& file) {
  if (qEnvironmentVariableIsSet("SSL_CERT_FILE")) old_ = qgetenv("SSL_CERT_FILE");
  qputenv("SSL_CERT_FILE", QByteArray::fromStdString(file));
}

ScopedCertFile::~ScopedCertFile() {
  if (old_) qputenv("SSL_CERT_FILE", *old_);
  else qunsetenv("SSL_CERT_FILE");
}

// ---- Dovecot ------------------------------------------------------------------------------------


DovecotServer::~DovecotServer() {
  Stop();
  if (!dir_.empty()) QDir(QString::fromStdString(dir_)).removeRecursively();
}

void DovecotServer::Stop() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(10000)) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

bool DovecotServer::Start(std::string* error) {
  if (::getuid() != 0) {
    *error = "Dovecot is started as root by the tests";
    return false;
  }
  if (::access("/usr/sbin/dovecot", X_OK) != 0) {
    *error = "/usr/sbin/dovecot is missing (scripts/install-deps.sh installs it)";
    return false;
  }
  const bool imap = withImap_;
  if (imap && ::access("/usr/lib/dovecot/imap", X_OK) != 0) {
    *error = "Dovecot's IMAP server is missing (dovecot-imapd; scripts/install-deps.sh installs it)";
    return false;
  }
  // Mail processes must not run as root: the Maildirs belong to "nobody".
  const passwd* pw = ::getpwnam("nobody");
  if (!pw) {
    *error = "no user \"nobody\"";
    return false;
  }
  mailUid_ = pw->pw_uid;
  mailGid_ = pw->pw_gid;
  char tmpl[] = "/tmp/px-dovecot-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    *error = "mkdtemp failed";
    return false;
  }
  dir_ = tmpl;
  ::chmod(dir_.c_str(), 0755);
  auto ca = MakeTestCa(dir_, error);
  if (!ca) return false;
  ca_ = *ca;
  makeDirs(dir_ + "/mail");
  ::chown((dir_ + "/mail").c_str(), mailUid_, mailGid_);
  std::string passwd;
  for (int i = 1; i <= kUsers; ++i) {
    std::string user = "user" + std::to_string(i);
    MakeUser(user);
    passwd += user + ":{PLAIN}pw-" + user + "\n";
  }
  writeFile(dir_ + "/passwd", passwd);
  for (int attempt = 0; attempt < 5; ++attempt) {
    pop3Port_ = FreePort();
    pop3sPort_ = FreePort();
    imapPort_ = FreePort();
    imapsPort_ = FreePort();
    std::set<int> distinct = {pop3Port_, pop3sPort_, imapPort_, imapsPort_};
    if (distinct.size() != 4) continue;
    std::string conf =
        "base_dir = " + dir_ + "/run\n"
        "state_dir = " + dir_ + "/state\n"
        "log_path = " + dir_ + "/dovecot.log\n"
        "protocols = " + std::string(imap ? "pop3 imap" : "pop3") + "\n"
        "listen = 127.0.0.1\n"
        "ssl = yes\n"
        "ssl_cert = <" + ca_.certFile + "\n"
        "ssl_key = <" + ca_.keyFile + "\n"
        "disable_plaintext_auth = no\n"
        "auth_mechanisms = plain" + std::string(oauthUrl_.empty() ? "" : " xoauth2 oauthbearer") + "\n"
        "auth_failure_delay = 0\n"
        "login_trusted_networks =\n"
        "passdb {\n  driver = passwd-file\n" + std::string(oauthUrl_.empty() ? "" : "  mechanisms = plain login\n") +
        "  args = scheme=PLAIN username_format=%u " + dir_ + "/passwd\n}\n" +
        (oauthUrl_.empty() ? std::string()
                           : "passdb {\n  driver = oauth2\n  mechanisms = xoauth2 oauthbearer\n  args = " + dir_ +
                                 "/oauth2.conf.ext\n}\n") +
        "userdb {\n  driver = static\n  args = uid=" + std::to_string(mailUid_) + " gid=" + std::to_string(mailGid_) +
        " home=" + dir_ + "/mail/%u\n}\n"
        "mail_location = maildir:~/Maildir\n"
        "first_valid_uid = 1\n"
        "first_valid_gid = 1\n"
        "default_internal_user = dovecot\n"
        "default_login_user = dovenull\n"
        "pop3_uidl_format = %08Xu%08Xv\n"
        "service pop3-login {\n"
        "  inet_listener pop3 {\n    port = " + std::to_string(pop3Port_) + "\n  }\n"
        "  inet_listener pop3s {\n    port = " + std::to_string(pop3sPort_) + "\n    ssl = yes\n  }\n"
        "}\n"
        "service anvil {\n  chroot =\n}\n";
    if (imap)
      conf +=
          "mailbox_idle_check_interval = 1 secs\n"
          "service imap-login {\n"
          "  inet_listener imap {\n    port = " + std::to_string(imapPort_) + "\n  }\n"
          "  inet_listener imaps {\n    port = " + std::to_string(imapsPort_) + "\n    ssl = yes\n  }\n"
          "}\n";
    writeFile(dir_ + "/dovecot.conf", conf);
    if (!oauthUrl_.empty())
      writeFile(dir_ + "/oauth2.conf.ext", "introspection_mode = post\nintrospection_url = " + oauthUrl_ +
                                               "\nforce_introspection = yes\nusername_attribute = username\n"
                                               "active_attribute = active\nactive_value = true\ntls_ca_cert_file = " +
                                               oauthCa_ + "\n");
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start("/usr/sbin/dovecot", {"-F", "-c", QString::fromStdString(dir_ + "/dovecot.conf")});
    if (!process_.waitForStarted(10000)) {
      *error = "cannot start dovecot: " + process_.errorString().toStdString();
      return false;
    }
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < until && process_.state() == QProcess::Running) {
      if (CanConnect(pop3Port_) && CanConnect(pop3sPort_) && (!imap || (CanConnect(imapPort_) && CanConnect(imapsPort_))))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop();
    *error = "dovecot did not start: " + process_.readAll().toStdString() + readFile(dir_ + "/dovecot.log");
  }
  return false;
}

std::string DovecotServer::Log() const { return dir_.empty() ? std::string() : readFile(dir_ + "/dovecot.log"); }

std::string DovecotServer::MaildirOf(const std::string& user) const { return dir_ + "/mail/" + user + "/Maildir"; }

std::string DovecotServer::NewUser() {
  if (users_ >= kUsers) return {};
  return "user" + std::to_string(++users_);
}

void DovecotServer::MakeUser(const std::string& user) {
  std::string home = dir_ + "/mail/" + user;
  for (const char* sub : {"", "/Maildir", "/Maildir/new", "/Maildir/cur", "/Maildir/tmp"}) {
    makeDirs(home + sub);
    ::chown((home + sub).c_str(), mailUid_, mailGid_);
  }
  ::chown(home.c_str(), mailUid_, mailGid_);
}

void DovecotServer::PutMessage(const std::string& user, const std::string& bytes, const std::string& folder) {
  // Maildir names that sort in the order of putting, so the UIDs follow it.
  const int n = ++sequence_;
  std::string name = std::to_string(1000000000 + n) + ".M" + Seq(n) + "P1.test";
  std::string dir = MaildirOf(user) + (folder.empty() ? "" : "/." + folder);
  for (const char* sub : {"", "/new", "/cur", "/tmp"}) {
    makeDirs(dir + sub);
    ::chown((dir + sub).c_str(), mailUid_, mailGid_);
  }
  std::string tmp = dir + "/tmp/" + name;
  writeFile(tmp, bytes);
  ::chown(tmp.c_str(), mailUid_, mailGid_);
  ::rename(tmp.c_str(), (dir + "/new/" + name).c_str());
}

void DovecotServer::RenumberMailbox(const std::string& user) {
  for (const char* f : {"/dovecot-uidlist", "/dovecot.index", "/dovecot.index.cache", "/dovecot.index.log",
                        "/dovecot.index.log.2", "/dovecot-uidvalidity"})
    ::unlink((MaildirOf(user) + f).c_str());
  for (const auto& n : FilesIn(MaildirOf(user)))
    if (n.rfind("dovecot-uidvalidity", 0) == 0) ::unlink((MaildirOf(user) + "/" + n).c_str());
}

std::vector<std::string> DovecotServer::MessageFiles(const std::string& user, const std::string& folder) const {
  std::string dir = MaildirOf(user) + (folder.empty() ? "" : "/." + folder);
  std::vector<std::string> r;
  for (const char* sub : {"/new/", "/cur/"})
    for (const auto& n : FilesIn(dir + sub)) r.push_back(sub + n);
  return r;
}

std::vector<std::string> DovecotServer::Messages(const std::string& user, const std::string& folder) const {
  std::vector<std::pair<std::string, std::string>> files;
  std::string dir = MaildirOf(user) + (folder.empty() ? "" : "/." + folder);
  for (const char* sub : {"/new/", "/cur/"})
    for (const auto& n : FilesIn(dir + sub)) files.emplace_back(n, readFile(dir + sub + n));
  std::sort(files.begin(), files.end());
  std::vector<std::string> r;
  for (auto& f : files) r.push_back(std::move(f.second));
  return r;
}

// ---- Fake server --------------------------------------------------------------------------------

FakePop3Server::~FakePop3Server() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

bool FakePop3Server::Start(const std::string& fault, int at, std::string* error) {
  QString mailbox = dir_.path() + "/mailbox";
  QDir().mkpath(mailbox);
  process_.setProgram("/usr/bin/python3");
  process_.setArguments({QStringLiteral(PX_TEST_DATA "/../pop3/fake_pop3.py"), "--mailbox", mailbox,
                         "--password", QString::fromStdString(password_), "--fault",
                         QString::fromStdString(fault), "--at", QString::number(at), "--port",
                         QString::number(port_)});
  process_.start();
  if (!process_.waitForStarted(10000) || !process_.waitForReadyRead(15000)) {
    *error = "cannot start the fake POP3 server: " + process_.readAllStandardError().toStdString();
    return false;
  }
  port_ = process_.readLine().trimmed().toInt();
  return port_ > 0;
}

bool FakePop3Server::Restart(const std::string& fault, int at, std::string* error) {
  process_.kill();
  process_.waitForFinished(5000);
  return Start(fault, at, error);
}

void FakePop3Server::PutMessage(const std::string& bytes) {
  writeFile(dir_.path().toStdString() + "/mailbox/uid" + Seq(++sequence_), bytes);
}

std::vector<std::string> FakePop3Server::Messages() const {
  std::string box = dir_.path().toStdString() + "/mailbox/";
  std::vector<std::string> r;
  for (const auto& n : FilesIn(box)) r.push_back(readFile(box + n));
  return r;
}

CutProxy::~CutProxy() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

bool CutProxy::Start(int targetPort, long cutAfter, std::string* error) {
  QStringList args = {QStringLiteral(PX_TEST_DATA "/../pop3/cut_proxy.py"), "--target", QString::number(targetPort)};
  if (cutAfter > 0) args << "--cut-after" << QString::number(cutAfter);
  else args << "--drop-quit";
  process_.start("/usr/bin/python3", args);
  if (!process_.waitForStarted(10000) || !process_.waitForReadyRead(15000)) {
    *error = "cannot start the relay: " + process_.readAllStandardError().toStdString();
    return false;
  }
  port_ = process_.readLine().trimmed().toInt();
  return port_ > 0;
}

std::vector<std::string> SpoolMessages(const std::string& folder) {
  std::vector<std::string> r;
  for (const auto& n : FilesIn(folder))
    if (n.size() > 5 && n.ends_with(".msg_")) r.push_back(readFile(folder + "/" + n));
  return r;
}

std::string MakeMessage(const std::string& subject, const std::string& messageId, const std::string& body,
                        const std::string& from) {
  std::string m = "From: " + from + "\r\nTo: user@example.org\r\nSubject: " + subject + "\r\n";
  if (!messageId.empty()) m += "Message-ID: " + messageId + "\r\n";
  m += "Date: Thu, 10 Dec 2026 10:00:00 +0000\r\n\r\n" + body;
  return m;
}

}  // namespace px::test
