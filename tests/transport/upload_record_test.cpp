// The envelope text and the upload records, read back the way the receiving side reads them.
#include "transport/upload_record.h"

#include "foundation/random.h"
#include "support/test_support.h"

#include <QDir>
#include <QTemporaryDir>

#include <bzlib.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace px::transport {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t e = text.find("\r\n", pos);
    EXPECT_NE(e, std::string::npos) << "every line ends in CR LF";
    if (e == std::string::npos) break;
    out.push_back(text.substr(pos, e - pos));
    pos = e + 2;
  }
  return out;
}

EnvelopeFields Sample() {
  EnvelopeFields f;
  f.from = "\"Alice\" <alice>";
  f.user = "alice";
  f.to = {"bob", "\"Carol\" <carol@example.org>"};
  f.cc = {"dave"};
  f.date = "Thu, 10 Dec 2026 15:00 +0000 (UTC)";
  f.subject = "Report [draft] & notes";
  f.mimeType = "text/plain";
  f.noTags = true;
  f.charset = "utf-8";
  f.fileName = "Report.txt";
  f.ext = "txt";
  f.msgId = "123";
  f.parts = 2;
  f.currPart = 1;
  return f;
}

TEST(Envelope, LinesInOrderWithSizeBeforeTheIdentifier) {
  const auto lines = Lines(EnvelopeText(Sample(), 4242));
  const std::vector<std::string> want = {
      "<?xml version=\"1.0\"?>", "<!DOCTYPE pxmailfile>", "<pxmailfile>", "<Header>", "<version ver=\"3.01\"/>",
      "<From addr=\"&quot;Alice&quot; &lt;alice&gt;\" user=\"alice\"/>", "<To addr=\"bob\"/>",
      "<To addr=\"&quot;Carol&quot; &lt;carol@example.org&gt;\"/>", "<Cc addr=\"dave\"/>",
      "<Date sent=\"Thu, 10 Dec 2026 15:00 +0000 (UTC)\"/>", "<Subject>Report &#091;draft&#093; &amp; notes</Subject>",
      "<Fileinfo mimetype=\"text/plain\" notags=\"1\" charset=\"utf-8\" filename=\"Report.txt\" ext=\"txt\"/>",
      "<Size bytes=\"4242\"/>", "<msgid messageid=\"123\" parts=\"2\" currpart=\"1\"/>", "</Header>", "</pxmailfile>"};
  EXPECT_EQ(lines, want);
}

TEST(Envelope, SizePositionWithoutIdentifierAndForPerRecipientCopies) {
  EnvelopeFields f = Sample();
  f.msgId.clear();
  auto lines = Lines(EnvelopeText(f, 7));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4], "<Size bytes=\"7\"/>");
  EXPECT_EQ(lines[lines.size() - 3].rfind("<Fileinfo", 0), 0u);

  f = Sample();
  f.msgId = "123*";
  f.parts = 0;
  lines = Lines(EnvelopeText(f, 9, "bob"));
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[lines.size() - 5], "<msgid messageid=\"123_PGP_bob\"/>");
  EXPECT_EQ(lines[lines.size() - 4], "<Size bytes=\"9\"/>");
  EXPECT_EQ(lines[lines.size() - 3], "<Delivered-To addr=\"bob\"/>");
}

std::string Bunzip(std::string_view data, bool* whole) {
  std::string out;
  bz_stream s{};
  BZ2_bzDecompressInit(&s, 0, 0);
  s.next_in = const_cast<char*>(data.data());
  s.avail_in = static_cast<unsigned>(data.size());
  char buf[65536];
  int rc = BZ_OK;
  while (rc == BZ_OK) {
    s.next_out = buf;
    s.avail_out = sizeof buf;
    rc = BZ2_bzDecompress(&s);
    out.append(buf, sizeof buf - s.avail_out);
  }
  *whole = rc == BZ_STREAM_END && s.avail_in == 0;
  BZ2_bzDecompressEnd(&s);
  return out;
}

uint32_t Le32(const std::string& s, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3])) << 24;
}

TEST(UploadStream, RecordsReadBackAndTheStreamIsPrivateAndRemoved) {
  QTemporaryDir dir;
  const std::string tmp = dir.path().toStdString() + "/";
  std::string big;
  for (uint32_t i = 0; i < 300000; ++i) big += static_cast<char>((i * 7919u) % 251u);
  px::test::writeFile(tmp + "a.bin", big);
  px::test::writeFile(tmp + "empty.txt", "");
  RandomSource random(7);
  std::string path;
  {
    UploadStream s;
    std::string error;
    ASSERT_TRUE(s.Create(tmp, random, &error)) << error;
    path = s.Path();
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(path.substr(tmp.size(), 2), "PX");
    const std::string env1 = EnvelopeText(Sample(), big.size());
    uint64_t seen = 0;
    const uint64_t len1 = s.AppendRecord(env1, tmp + "a.bin", big.size(), &error, [&](uint64_t n) {
      seen += n;
      return true;
    });
    ASSERT_GT(len1, 0u) << error;
    EXPECT_EQ(seen, big.size());
    const std::string env2 = EnvelopeText(Sample(), 0);
    const uint64_t len2 = s.AppendRecord(env2, tmp + "empty.txt", 0, &error);
    ASSERT_GT(len2, 0u) << error;
    // A file whose size changed since it was looked at is not packed, and leaves the stream as it was.
    EXPECT_EQ(s.AppendRecord(env2, tmp + "a.bin", 10, &error), 0u);
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(s.AppendRecord(env2, tmp + "missing.bin", 0, &error), 0u);
    EXPECT_EQ(s.AppendRecord(env2, tmp + "a.bin", kMaxPartFileSize + 1, &error), 0u);
    ASSERT_EQ(s.RecordLengths().size(), 2u);
    EXPECT_EQ(s.Size(), len1 + len2);

    const std::string stream = px::test::readFile(path);
    ASSERT_EQ(stream.size(), len1 + len2);
    size_t at = 0;
    for (auto [env, file, len] : {std::tuple{env1, big, len1}, std::tuple{env2, std::string(), len2}}) {
      const std::string rec = stream.substr(at, len);
      const uint32_t clen = Le32(rec, 0);
      EXPECT_EQ(Le32(rec, 4), env.size());
      EXPECT_EQ(Le32(rec, 8), file.size());
      bool whole = false;
      EXPECT_EQ(Bunzip(std::string_view(rec).substr(12, clen), &whole), env);
      EXPECT_TRUE(whole);
      EXPECT_EQ(Bunzip(std::string_view(rec).substr(12 + clen), &whole), file);
      EXPECT_TRUE(whole);
      at += len;
    }
    // Level 1 is the block size of 100 000 bytes: the stream header says so.
    EXPECT_EQ(stream.substr(12, 4), "BZh1");
  }
  EXPECT_FALSE(QFile::exists(QString::fromStdString(path)));
}

}  // namespace
}  // namespace px::transport
