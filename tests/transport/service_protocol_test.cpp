// Request forms and reply rules of the mail service.
#include "transport/service_protocol.h"

#include "foundation/locations.h"
#include "foundation/settings.h"

#include <QByteArray>
#include <QtGlobal>

#include <gtest/gtest.h>

namespace px::transport {
namespace {

TEST(ServiceHost, LocalServerSwitchAndBlankValue) {
  Settings s;
  EXPECT_EQ(ServiceHost(s), kDefaultServiceHost);
  s.SetLocalServer("   ");
  s.SetUseLocalServer(true);
  EXPECT_EQ(ServiceHost(s), kDefaultServiceHost);
  s.SetLocalServer(" mail.example.org:8443 ");
  EXPECT_EQ(ServiceHost(s), "mail.example.org:8443");
  s.SetUseLocalServer(false);
  EXPECT_EQ(ServiceHost(s), kDefaultServiceHost);
}

TEST(ServiceHost, TrustedRootsFromTheEnvironmentOrTheProgramFolder) {
  Locations loc;
  loc.programFolder = "/opt/px/";
  const QByteArray old = qgetenv("PLUMADEX_SERVICE_CA");
  qunsetenv("PLUMADEX_SERVICE_CA");
  EXPECT_EQ(ServiceCaFile(loc), "/opt/px/plumadex.pem");
  qputenv("PLUMADEX_SERVICE_CA", "/tmp/ca.pem");
  EXPECT_EQ(ServiceHttpSettings(loc).caFile, "/tmp/ca.pem");
  if (old.isEmpty()) qunsetenv("PLUMADEX_SERVICE_CA");
  else qputenv("PLUMADEX_SERVICE_CA", old);
  EXPECT_EQ(DownloadPageUrl("h").find(".exe"), std::string::npos);
}

TEST(ServiceRequests, QueryValuesAreEncoded) {
  EXPECT_EQ(PasswordChangePath("john doe@x", "a&b", "~*"),
            "/newuser/pass.phtml?id=john%20doe%40x&pass=a%26b&newpass=~*");
  EXPECT_EQ(VersionReportPath("a b"), "/cgibin/version.tcl?username=a%20b&password=xxxxx&version=3&release=01");
  // Values from a listing: ordinary ones unchanged, none can add a parameter.
  EXPECT_EQ(GetFilePath("1234567.pxm"), "/checkmail/getfile.ttml?filename=1234567.pxm");
  EXPECT_EQ(ConfirmPath("x.pxm&nodel=1", false, "", "", ""), "/checkmail/confirm.ttml?filename=x.pxm%26nodel%3D1");
  EXPECT_EQ(ConfirmPath("9.pxm", true, "bob smith", "0123:001", "Re: a&b"),
            "/checkmail/confirm.ttml?filename=9.pxm&nodel=1&to=bob%20smith&msgid=0123:001&subject=Re%3A%20a%26b");
  EXPECT_EQ(ConfirmPath("9.pxm", false, "bob", "1#2", "s"), "/checkmail/confirm.ttml?filename=9.pxm&to=bob&msgid=1%232&subject=s");
  EXPECT_EQ(PutMailPath({10}), "/putmail/data");
  EXPECT_EQ(PutMailPath({10, 20, 3}), "/putmail/data/files=10,20,3");
}

TEST(ServiceReplies, StatusTextAndUploadReply) {
  EXPECT_EQ(StatusText("  ok - password changed \r\n"), "OK - PASSWORD CHANGED");
  EXPECT_EQ(StatusText("<html><head><title>ERROR - FAILED</title></head><body>x</body></html>"), "ERROR - FAILED");
  EXPECT_EQ(ReadPasswordChangeReply("ok - password changed"), PasswordChangeReply::Changed);
  EXPECT_EQ(ReadPasswordChangeReply("<TITLE>ERROR - FAILED</TITLE>"), PasswordChangeReply::Failed);
  EXPECT_EQ(ReadPasswordChangeReply("whatever"), PasswordChangeReply::Other);
  MessageKind kind;
  EXPECT_TRUE(PasswordChangeMessage(PasswordChangeReply::Other, &kind).empty());
  EXPECT_EQ(PasswordChangeMessage(PasswordChangeReply::Failed, &kind).substr(0, 9), "Sorry, bu");
  EXPECT_EQ(kind, MessageKind::Error);

  EXPECT_TRUE(UploadAccepted("1234\r\n", 1234));
  EXPECT_FALSE(UploadAccepted("1235", 1234));
  EXPECT_FALSE(UploadAccepted("", 0 + 1));
  EXPECT_FALSE(UploadAccepted("1234 bytes", 1234));
}

TEST(ServiceReplies, PublishedVersion) {
  EXPECT_EQ(PublishedVersionOf("3.1 released\r\n"), "3.1");
  EXPECT_TRUE(OffersNewVersion("3.1"));
  EXPECT_FALSE(OffersNewVersion("10.0"));
  EXPECT_FALSE(OffersNewVersion("3.01"));
  EXPECT_FALSE(OffersNewVersion(""));
}

TEST(TransferErrors, NoticesAreCoded) {
  EXPECT_TRUE(TransferErrorNotice(teNone).empty());
  EXPECT_EQ(TransferErrorNotice(teCommunication),
            "\x13" "An error occurred during communication with Plumadex server. Try connecting again.");
  EXPECT_EQ(TransferErrorNotice(teAuthorisation), "\x13" "Wrong user name or password.");
  EXPECT_EQ(NoKeyNotice({"a", "b"}).substr(NoKeyNotice({"a", "b"}).size() - 4), "\ra\rb");
}

}  // namespace
}  // namespace px::transport
