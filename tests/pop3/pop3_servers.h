#pragma once
// POP3 servers for the tests, each on 127.0.0.1 at a free port: Dovecot with a configuration
// written at test time (a passwd-file user, Maildirs the test fills, TLS with a test CA), and a
// scripted fake server for faults Dovecot will not produce. Both stop with their object.
#include <QProcess>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/accounts.h"
#include "transport/receive_link.h"

namespace px::test {

// A test CA and a server certificate for "localhost" and 127.0.0.1, made with the openssl
// command in `dir`.
struct TestCa {
  std::string caFile, certFile, keyFile;
  std::string otherCaFile;  // a CA that signed nothing the servers use
};
std::optional<TestCa> MakeTestCa(const std::string& dir, std::string* error);

// Points OpenSSL's default trust at a file for the life of the object.
class ScopedCertFile {
public:
  explicit ScopedCertFile(const std::string& file);
  ~ScopedCertFile();

private:
  std::optional<QByteArray> old_;
};

class DovecotServer {
public:
  // With `imap`, Dovecot serves IMAP and IMAPS too.
  explicit DovecotServer(bool imap = false) : withImap_(imap) {}
  ~DovecotServer();
  // Starts Dovecot; false (with *error) when it cannot run here.
  bool Start(std::string* error);
  void Stop();
  // Before Start: XOAUTH2 and OAUTHBEARER too, their tokens checked at an RFC 7662
  // introspection endpoint (HTTPS trusted through `caFile`).
  void EnableOAuth(const std::string& introspectionUrl, const std::string& caFile) {
    oauthUrl_ = introspectionUrl;
    oauthCa_ = caFile;
  }
  int pop3Port() const { return pop3Port_; }
  int pop3sPort() const { return pop3sPort_; }
  int imapPort() const { return imapPort_; }
  std::string Log() const;  // what Dovecot wrote to its log
  int imapsPort() const { return imapsPort_; }
  const TestCa& ca() const { return ca_; }

  // A fresh user with an empty Maildir; the password is "pw-" + the user name. The users are
  // made before Dovecot starts, so no log-in ever races a change of the password file.
  std::string NewUser();
  // Puts a message into the user's Maildir (new/), after the ones put there before; into one
  // of its folders when `folder` is given.
  void PutMessage(const std::string& user, const std::string& bytes, const std::string& folder = {});
  // The messages in the user's Maildir (or one of its folders), in the order they were put there.
  std::vector<std::string> Messages(const std::string& user, const std::string& folder = {}) const;
  // Their file names ("/new/..." or "/cur/...", with the flags Dovecot gave them).
  std::vector<std::string> MessageFiles(const std::string& user, const std::string& folder = {}) const;
  // Forgets the IMAP UIDs of the user's INBOX: its next UIDVALIDITY differs.
  void RenumberMailbox(const std::string& user);

private:
  std::string MaildirOf(const std::string& user) const;
  void MakeUser(const std::string& user);
  std::string dir_;
  QProcess process_;
  TestCa ca_;
  bool withImap_ = false;
  std::string oauthUrl_, oauthCa_;
  int pop3Port_ = 0, pop3sPort_ = 0, imapPort_ = 0, imapsPort_ = 0;
  int sequence_ = 0;
  int users_ = 0;
  unsigned mailUid_ = 0, mailGid_ = 0;
};

class FakePop3Server {
public:
  FakePop3Server() = default;
  ~FakePop3Server();
  // fault: see fake_pop3.py; at: the message it concerns.
  bool Start(const std::string& fault, int at, std::string* error);
  // Starts the server again over the same mailbox and port with another fault.
  bool Restart(const std::string& fault, int at, std::string* error);
  int port() const { return port_; }
  const std::string& password() const { return password_; }
  void PutMessage(const std::string& bytes);
  std::vector<std::string> Messages() const;

private:
  QTemporaryDir dir_;
  QProcess process_;
  int port_ = 0;
  int sequence_ = 0;
  std::string password_ = "secret";
};

// A relay in front of a real server that cuts the connection on purpose (cut_proxy.py).
class CutProxy {
public:
  ~CutProxy();
  // Cut once the server has sent `cutAfter` bytes, or (cutAfter 0) swallow a plain QUIT.
  bool Start(int targetPort, long cutAfter, std::string* error);
  int port() const { return port_; }

private:
  QProcess process_;
  int port_ = 0;
};

// The raw messages in a spool folder (".msg_" files), by name.
std::vector<std::string> SpoolMessages(const std::string& folder);

// A mail message with a subject, a Message-ID (none when empty) and a body.
std::string MakeMessage(const std::string& subject, const std::string& messageId,
                        const std::string& body = "Hello.\r\n", const std::string& from = "Sender <sender@example.org>");

}  // namespace px::test
