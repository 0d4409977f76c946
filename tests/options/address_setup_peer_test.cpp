// Registering and verifying the service address against the loopback service peer.
#include "transport/address_setup.h"

#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/http_client.h"
#include "transport/peer_fixture.h"
#include "transport/service_protocol.h"

#include <gtest/gtest.h>

namespace px::transport {
namespace {

class AddressSetupPeer : public ::testing::Test {
protected:
  void SetUp() override {
    if (!peer.Running()) GTEST_SKIP() << "the service peer did not start";
  }
  RegResult Run(RegMode mode, const RegFields& f) {
    HttpClient client(peer.Settings());
    return RunRegistration(client, peer.Host(), mode, f, settings, random);
  }
  test::ServicePeer peer{{"taken:oldsecret"}};
  Settings settings;
  RandomSource random{7};
};

TEST_F(AddressSetupPeer, RegisterStoresTheNewAddressAndItVerifiesAfterwards) {
  const RegFields f{" Jo Smith ", "jo.smith", " secret1 ", " secret1 ", 3, "Old School 1"};
  const RegResult r = Run(RegMode::Register, f);
  ASSERT_EQ(r.outcome, RegOutcome::Registered) << r.message;
  EXPECT_TRUE(r.stored);
  EXPECT_EQ(settings.ID(), "jo.smith");
  EXPECT_EQ(settings.Name(), "Jo Smith");
  EXPECT_EQ(UnscramblePassword(settings.Password()), "secret1");
  EXPECT_TRUE(settings.NewInstall());
  // Sent without authentication, with the question's position and the answer.
  const std::string log = peer.Log();
  EXPECT_NE(log.find("\"question\": \"3\""), std::string::npos) << log;
  EXPECT_NE(log.find("\"authorization\": false"), std::string::npos) << log;

  Settings other;
  HttpClient client(peer.Settings());
  const RegResult v = RunRegistration(client, peer.Host(), RegMode::Verify,
                                      {"Jo", "jo.smith", "secret1", "secret1", 0, ""}, other, random);
  EXPECT_EQ(v.outcome, RegOutcome::Verified);
  EXPECT_EQ(other.ID(), "jo.smith");
  EXPECT_FALSE(other.NewInstall());
}

TEST_F(AddressSetupPeer, AnExistingAddressOnANamedServerKeepsThatServer) {
  // The user names the server; the request goes there and the server is kept once verified.
  RegFields f{"Jo", "taken", "oldsecret", "oldsecret", 0, ""};
  f.server = peer.Host();
  EXPECT_EQ(RegHost(f, settings), peer.Host());
  HttpClient client(peer.Settings());
  const RegResult r = RunRegistration(client, RegHost(f, settings), RegMode::Verify, f, settings, random);
  ASSERT_EQ(r.outcome, RegOutcome::Verified) << r.message;
  EXPECT_TRUE(settings.UseLocalServer());
  EXPECT_EQ(settings.LocalServer(), peer.Host());
  EXPECT_EQ(ServiceHost(settings), peer.Host());
  // The standard server named again turns the local one off.
  StoreServer(settings, "mail.plumadex.net");
  EXPECT_FALSE(settings.UseLocalServer());
  // A server with blanks is refused before anything is sent.
  f.server = "bad host";
  const RegCheck c = CheckRegFields(RegMode::Verify, f);
  EXPECT_FALSE(c.proceed);
  EXPECT_EQ(c.focus, RegFocus::Server);
}

TEST_F(AddressSetupPeer, TakenNameIsRefusedAndNothingIsWritten) {
  const RegResult r = Run(RegMode::Register, {"Jo", "taken", "secret1", "secret1", 1, "Paris"});
  EXPECT_EQ(r.outcome, RegOutcome::AlreadyUsed);
  EXPECT_EQ(r.kind, MessageKind::Warning);
  EXPECT_EQ(r.message, "Sorry, but this username is already taken. Please try another username.");
  EXPECT_FALSE(r.stored);
  EXPECT_TRUE(settings.ID().empty());
  EXPECT_TRUE(settings.Password().empty());
  EXPECT_FALSE(settings.NewInstall());
}

TEST_F(AddressSetupPeer, WrongPasswordOnVerifySaysSoAndWritesNothing) {
  const RegResult r = Run(RegMode::Verify, {"Jo", "taken", "wrong12", "wrong12", 0, ""});
  EXPECT_EQ(r.outcome, RegOutcome::WrongPassword);
  EXPECT_EQ(r.message, "Wrong user name or password.");
  EXPECT_FALSE(r.stored);
  EXPECT_TRUE(settings.ID().empty());
  EXPECT_TRUE(settings.Name().empty());

  const RegResult ok = Run(RegMode::Verify, {"Jo", "taken", "oldsecret", "oldsecret", 0, ""});
  EXPECT_EQ(ok.outcome, RegOutcome::Verified);
  EXPECT_EQ(settings.ID(), "taken");
}

TEST_F(AddressSetupPeer, ServerErrorIsAConnectionFailure) {
  ASSERT_TRUE(peer.AddFault("register", "fault=status&status=500"));
  const RegResult r = Run(RegMode::Register, {"Jo", "fresh", "secret1", "secret1", 1, "Paris"});
  EXPECT_EQ(r.outcome, RegOutcome::NoConnection);
  EXPECT_FALSE(r.stored);
  EXPECT_TRUE(settings.ID().empty());
}

}  // namespace
}  // namespace px::transport
