#pragma once
// The local SMTP server of the tests (aiosmtpd under /usr/bin/python3) with TLS certificates
// from a test CA made with openssl, and Python's email package as a second reader of what
// arrived.
#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/test_paths.h"
#include "support/test_support.h"

namespace px::transport::testing {

inline std::string ScriptDir() { return std::string(PX_TEST_DATA) + "/../smtp/"; }

// Runs a command; its standard output, or "" when it failed.
inline std::string RunCommand(const QString& program, const QStringList& args, bool* ok = nullptr) {
  QProcess p;
  p.start(program, args);
  bool done = p.waitForFinished(60000);
  bool good = done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (ok) *ok = good;
  if (!good) ADD_FAILURE() << program.toStdString() << " failed: " << p.readAllStandardError().toStdString();
  return p.readAllStandardOutput().toStdString();
}

// A CA and two server certificates signed by it: one for 127.0.0.1 / localhost, one for
// another host name. Made once per test program.
class TestCa {
public:
  static const TestCa& Get() {
    static TestCa ca;
    return ca;
  }
  std::string caFile() const { return dir_ + "ca.pem"; }
  std::string serverCert() const { return dir_ + "server.pem"; }
  std::string serverKey() const { return dir_ + "server.key"; }
  std::string otherCert() const { return dir_ + "other.pem"; }
  std::string otherKey() const { return dir_ + "other.key"; }

private:
  TestCa() {
    dir_ = tmp_.path().toStdString() + "/";
    QString d = tmp_.path() + "/";
    auto ossl = [](const QStringList& a) { RunCommand("openssl", a); };
    ossl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "30",
          "-subj", "/CN=Plumadex Test CA", "-keyout", d + "ca.key", "-out", d + "ca.pem", "-addext",
          "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    auto leaf = [&](const QString& name, const QString& cn, const QString& san) {
      QDir().mkpath(d);
      test::writeFile((d + name + ".ext").toStdString(),
                      ("subjectAltName=" + san + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
                          .toStdString());
      ossl({"req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-subj", "/CN=" + cn,
            "-keyout", d + name + ".key", "-out", d + name + ".csr"});
      ossl({"x509", "-req", "-in", d + name + ".csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
            "-CAcreateserial", "-days", "30", "-extfile", d + name + ".ext", "-out", d + name + ".pem"});
    };
    leaf("server", "127.0.0.1", "IP:127.0.0.1,DNS:localhost");
    leaf("other", "mail.other.example", "DNS:mail.other.example");
  }
  QTemporaryDir tmp_;
  std::string dir_;
};

struct ServerOptions {
  std::string mode = "starttls";   // tls | starttls | plain
  bool otherCert = false;           // present the certificate of another host
  std::vector<std::string> users = {"alice:secret"};
  std::vector<std::string> extra;   // further options of the script
};

struct Received {
  std::string eml;
  QJsonObject meta;
  std::string path;
};

class SmtpTestServer {
public:
  explicit SmtpTestServer(const ServerOptions& o = {}) {
    const TestCa& ca = TestCa::Get();
    out_ = dir_.path().toStdString() + "/out/";
    QStringList args{QString::fromStdString(ScriptDir() + "smtp_test_server.py"), "--out",
                     QString::fromStdString(out_), "--mode", QString::fromStdString(o.mode)};
    if (o.mode != "plain" || o.otherCert) {
      args << "--cert" << QString::fromStdString(o.otherCert ? ca.otherCert() : ca.serverCert()) << "--key"
           << QString::fromStdString(o.otherCert ? ca.otherKey() : ca.serverKey());
    }
    for (const auto& u : o.users) args << "--user" << QString::fromStdString(u);
    for (const auto& e : o.extra) args << QString::fromStdString(e);
    proc_.setProcessChannelMode(QProcess::SeparateChannels);
    proc_.start("/usr/bin/python3", args);
    if (!proc_.waitForStarted(10000)) {
      ADD_FAILURE() << "cannot start the SMTP test server";
      return;
    }
    std::string line;
    while (line.find('\n') == std::string::npos && proc_.waitForReadyRead(20000))
      line += proc_.readAllStandardOutput().toStdString();
    if (line.rfind("PORT ", 0) == 0) port_ = std::atoi(line.c_str() + 5);
    if (!port_) ADD_FAILURE() << "SMTP test server did not start: " << proc_.readAllStandardError().toStdString();
  }
  ~SmtpTestServer() {
    proc_.closeWriteChannel();
    if (!proc_.waitForFinished(3000)) {
      proc_.terminate();
      if (!proc_.waitForFinished(3000)) proc_.kill();
      proc_.waitForFinished(3000);
    }
  }
  int port() const { return port_; }
  std::string outDir() const { return out_; }

  std::vector<Received> Messages() const {
    std::vector<Received> r;
    QDir d(QString::fromStdString(out_));
    for (const auto& name : d.entryList({"*.eml"}, QDir::Files, QDir::Name)) {
      Received m;
      m.path = out_ + name.toStdString();
      m.eml = test::readFile(m.path);
      std::string json = test::readFile(m.path.substr(0, m.path.size() - 4) + ".json");
      m.meta = QJsonDocument::fromJson(QByteArray::fromStdString(json)).object();
      r.push_back(std::move(m));
    }
    return r;
  }

private:
  QTemporaryDir dir_;
  std::string out_;
  QProcess proc_;
  int port_ = 0;
};

// What Python's email package reads from a message file.
inline QJsonObject ReadWithPython(const std::string& path) {
  std::string out = RunCommand("/usr/bin/python3", {QString::fromStdString(ScriptDir() + "read_message.py"),
                                                    QString::fromStdString(path)});
  return QJsonDocument::fromJson(QByteArray::fromStdString(out)).object();
}

inline std::string Sha256(const std::string& bytes) {
  return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256).toHex().toStdString();
}

inline std::vector<std::string> Strings(const QJsonArray& a) {
  std::vector<std::string> r;
  for (const auto& v : a) r.push_back(v.toString().toStdString());
  return r;
}

}  // namespace px::transport::testing
