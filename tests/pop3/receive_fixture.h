#pragma once
// A data root with a spool and a left-on-server list, and one-account receive runs into it.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/random.h"
#include "incoming/mail_preview.h"
#include "mailformat/spool.h"
#include "pop3/pop3_servers.h"
#include "support/test_support.h"
#include "transport/left_on_server.h"
#include "transport/pop3/thread_recv_pop.h"
#include "transport/receive_chain.h"

namespace px::test {

class ReceiveFixture {
public:
  TempHome home;
  RandomSource random{11};
  mailformat::MailSpool spool{home.path("Inbox/"), random};
  transport::LeftOnServerList leftOnServer{home.path("msgid.lst")};
  std::function<bool(std::string_view)> isBlocked;
  std::function<std::optional<std::string>(const std::string&)> askPasswordAgain;

  transport::ChainReport Receive(const std::vector<transport::ExternalAccount>& accounts, int timeoutMs = 5000) {
    transport::ChainSetup setup;
    setup.spool = &spool;
    setup.leftOnServer = &leftOnServer;
    setup.isBlocked = isBlocked;
    setup.askPasswordAgain = askPasswordAgain;
    transport::ThreadRecvChain chain(setup);
    for (const auto& a : accounts) chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(a, timeoutMs));
    return chain.Run();
  }
  transport::ChainReport Receive(const transport::ExternalAccount& a, int timeoutMs = 5000) {
    return Receive(std::vector<transport::ExternalAccount>{a}, timeoutMs);
  }
  // A preview run as the desk makes it: every account lists into `list`, or (Receive, Delete)
  // only `account` works on its ticked rows of `list`, which follows the run's reports.
  transport::ChainReport PreviewRun(const std::vector<transport::ExternalAccount>& accounts,
                                    incoming::MailPreviewList& list,
                                    transport::PreviewOrder::Mode mode = transport::PreviewOrder::Mode::Listing,
                                    const std::string& account = {}) {
    transport::ChainSetup setup;
    setup.spool = &spool;
    setup.leftOnServer = &leftOnServer;
    setup.isBlocked = isBlocked;
    transport::ThreadRecvChain chain(setup);
    for (const auto& a : accounts) {
      chain.AddLink(std::make_unique<transport::pop3::ThreadRecvPOP>(a, 5000));
      transport::PreviewOrder order;
      order.mode = mode;
      if (a.name == account) order.items = list.Ticked(account);
      EXPECT_TRUE(chain.SetPreview(chain.LinkCount() - 1, std::move(order)));
    }
    QObject::connect(&chain, &transport::ThreadRecvChain::previewListed,
                     [&list](const transport::TMailPreviewItem& i) { list.Listed(i); });
    QObject::connect(&chain, &transport::ThreadRecvChain::previewHandled, [&list](const QString& a, const QString& k) {
      list.Handled(a.toStdString(), k.toStdString());
    });
    return chain.Run();
  }
  std::vector<std::string> Spooled() const { return SpoolMessages(home.path("Inbox")); }
  // The subjects of the spooled messages, sorted.
  std::vector<std::string> SpooledSubjects() const {
    std::vector<std::string> r;
    for (const auto& m : Spooled()) r.push_back(SubjectOf(m));
    std::sort(r.begin(), r.end());
    return r;
  }
  static std::string SubjectOf(const std::string& m) {
    size_t p = m.find("\r\nSubject: ");
    if (p == std::string::npos) return {};
    p += 11;
    return m.substr(p, m.find("\r\n", p) - p);
  }
  static std::vector<std::string> Subjects(const std::vector<std::string>& messages) {
    std::vector<std::string> r;
    for (const auto& m : messages) r.push_back(SubjectOf(m));
    std::sort(r.begin(), r.end());
    return r;
  }
};

inline transport::ExternalAccount Account(const std::string& name, const std::string& server, const std::string& user,
                                          const std::string& password, transport::pop3::Security security,
                                          bool keep = false) {
  transport::ExternalAccount a;
  a.name = name;
  a.enabled = true;
  a.server = server;
  a.user = user;
  a.password = password;
  a.security = security;
  a.keep = keep;
  return a;
}

}  // namespace px::test
