#include <gtest/gtest.h>

#include "incoming/filer_fixture.h"
#include "incoming/service_envelope.h"

namespace px::incoming::test {
namespace {

using mailformat::ParsePartDescriptor;

TEST(ServiceEnvelope, BuildsTheDescriptor) {
  EnvelopeSpec e;
  e.to = {"bob", "&quot;Cy&quot; &lt;cy@example.org&gt;"};
  e.subject = "Caf\xc3\xa9 &#091;1&#093;";  // as ISO-8859-1 text: the bytes C3 A9 stay
  e.charset = "utf-8";
  e.parts = "3";
  e.currpart = "2";
  EnvelopeInfo info;
  ASSERT_TRUE(ParseEnvelope(Envelope(e), info));
  const auto& d = info.descriptor;
  EXPECT_EQ(d.to, "");
  EXPECT_EQ(d.from, "ann");
  EXPECT_EQ(d.kind, "txt");
  EXPECT_EQ(d.name, "Caf\xc3\xa9 [1]");
  EXPECT_EQ(d.tagged, (std::vector<std::string>{
                          "TO: bob, \"Cy\" <cy@example.org>", "X-DATE-RECEIVED: 03/04/03 09:00:00",
                          "DATE: Tue, 4 Mar 2003 10:00:00 +0100", "CHARSET: utf-8", "MsgID: 0777:002/3",
                          std::string(kUnpackedLine)}));
}

TEST(ServiceEnvelope, KindsFromTheNetwork) {
  const struct {
    const char* ext;
    const char* kind;
    bool encrypted, raw;
    const char* id;
  } cases[] = {
      {"$$$r", "$$$r", false, false, "MsgID: 777"},  // a receipt keeps the sender's own id
      {"$$$_", "____", false, false, "MsgID: 0777"},  // a folder marker is never taken from the network
      {"$$$PGP$$$doc", "doc", true, false, "MsgID: 0777"},
      {"msg_", "msg_", false, true, "MsgID: 0777"},
  };
  for (const auto& c : cases) {
    EnvelopeSpec e;
    e.ext = c.ext;
    EnvelopeInfo info;
    ASSERT_TRUE(ParseEnvelope(Envelope(e), info)) << c.ext;
    EXPECT_EQ(info.descriptor.kind, c.kind);
    EXPECT_EQ(info.encrypted, c.encrypted);
    EXPECT_EQ(info.rawMessage, c.raw);
    EXPECT_NE(std::find(info.descriptor.tagged.begin(), info.descriptor.tagged.end(), c.id),
              info.descriptor.tagged.end())
        << c.ext;
  }
  EnvelopeSpec pgp;
  pgp.msgid = "55_PGP_bob";
  EnvelopeInfo info;
  ASSERT_TRUE(ParseEnvelope(Envelope(pgp), info));
  EXPECT_EQ(info.descriptor.tagged[info.descriptor.tagged.size() - 2], "MsgID: 055");
}

TEST(ServiceEnvelope, BadEnvelopes) {
  EnvelopeInfo info;
  EXPECT_FALSE(ParseEnvelope("", info));
  EXPECT_FALSE(ParseEnvelope("<pxmailfile><Header>", info));
  EXPECT_FALSE(ParseEnvelope("<?xml version=\"1.0\"?><pxmailfile/>", info));
  // No declaration at all is still read.
  EXPECT_TRUE(ParseEnvelope("<pxmailfile><Header><Subject>x</Subject></Header></pxmailfile>", info));
  EXPECT_EQ(info.descriptor.name, "x");
}

struct UnpackTest : FilerFixture {};

TEST_F(UnpackTest, WritesThePairAndKeepsTheDownload) {
  std::string n = download(Container(Envelope({}), "Hi Bob\r\n"));
  UnpackResult r = UnpackContainer(*spool, n);
  ASSERT_EQ(r.status, UnpackStatus::Ok) << r.error;
  EXPECT_EQ(px::test::readFile(spool->PathOf(n, mailformat::kContentExt)), "Hi Bob\r\n");
  auto d = ParsePartDescriptor(px::test::readFile(spool->PathOf(n, mailformat::kDescriptorExt)));
  EXPECT_EQ(d.name, "Hello");
  EXPECT_TRUE(spool->Exists(n, mailformat::kContainerExt));
  // Again (a crash before the download was removed): the pair stands, nothing is doubled.
  r = UnpackContainer(*spool, n);
  EXPECT_EQ(r.status, UnpackStatus::Ok);
  EXPECT_EQ(spool->List(mailformat::kDescriptorExt).size(), 1u);
}

TEST_F(UnpackTest, EmptyBodyAndRawMessage) {
  std::string n = download(Container(Envelope({}), ""));
  ASSERT_EQ(UnpackContainer(*spool, n).status, UnpackStatus::Ok);
  EXPECT_EQ(px::test::readFile(spool->PathOf(n, mailformat::kContentExt)), "");
  EnvelopeSpec e;
  e.ext = "msg_";
  std::string m = download(Container(Envelope(e), "Subject: x\r\n\r\nbody\r\n"));
  UnpackResult r = UnpackContainer(*spool, m);
  ASSERT_EQ(r.status, UnpackStatus::Ok);
  EXPECT_TRUE(r.rawMessage);
  EXPECT_EQ(TrustOfRawName(r.rawName), mailformat::SourceTrust::Network);
  EXPECT_TRUE(spool->Exists(r.rawName, mailformat::kRawExt));
  EXPECT_FALSE(spool->Exists(m, mailformat::kDescriptorExt));
}

TEST_F(UnpackTest, HostileDownloadsAreCorrupt) {
  const std::string env = Envelope({});
  const std::string good = Container(env, "Hi Bob\r\n");
  const std::string ez = Bz(env);
  std::string bodyz = Bz("Hi Bob\r\n");
  std::string badBz = bodyz;
  badBz[badBz.size() / 2] ^= 0x55;
  const std::string bomb = Bz(std::string(1 << 20, 'A'));
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"too short", "abc"},
      {"truncated", good.substr(0, good.size() - 5)},
      {"envelope length beyond the file", Le32(0xFFFFFFFF) + Le32(10) + Le32(8) + ez + bodyz},
      {"envelope text length huge", Le32(ez.size()) + Le32(0xFFFFFFFF) + Le32(8) + ez + bodyz},
      {"body longer than declared", Le32(ez.size()) + Le32(env.size()) + Le32(100) + ez + bomb},
      {"body shorter than declared", Le32(ez.size()) + Le32(env.size()) + Le32(9) + ez + bodyz},
      {"corrupt bzip2", Le32(ez.size()) + Le32(env.size()) + Le32(8) + ez + badBz},
      {"envelope not xml", Le32(Bz("junk").size()) + Le32(4) + Le32(8) + Bz("junk") + bodyz},
  };
  for (const auto& c : cases) {
    std::string n = download(c.bytes);
    UnpackResult r = UnpackContainer(*spool, n);
    EXPECT_NE(r.status, UnpackStatus::Ok) << c.what;
    EXPECT_FALSE(spool->Exists(n, mailformat::kDescriptorExt)) << c.what;
    EXPECT_FALSE(spool->Exists(n, mailformat::kContentExt)) << c.what;
  }
  // A declared size far beyond the disk is refused before anything is written.
  std::string n = download(Le32(ez.size()) + Le32(env.size()) + Le32(0xFFFFFFFF) + ez + bomb);
  UnpackResult r = UnpackContainer(*spool, n);
  EXPECT_NE(r.status, UnpackStatus::Ok);
  EXPECT_FALSE(spool->Exists(n, mailformat::kContentExt));
}

}  // namespace
}  // namespace px::incoming::test
