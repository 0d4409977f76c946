#pragma once
// A private home with a spool, the documents folder and the lists, and helpers that put
// descriptor pairs, raw messages and service downloads into the spool.
#include <bzlib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/message_queue.h"
#include "foundation/random.h"
#include "incoming/mail_filer.h"
#include "mailformat/part_descriptor.h"
#include "mailformat/spool.h"
#include "store/index_file.h"
#include "store/newmail_list.h"
#include "store/unread_list.h"
#include "support/test_support.h"

namespace px::incoming::test {

inline std::string Bz(const std::string& in) {
  if (in.empty()) return {};
  unsigned int len = static_cast<unsigned int>(in.size() + in.size() / 100 + 600);
  std::string out(len, '\0');
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(out.data(), &len, const_cast<char*>(in.data()),
                                     static_cast<unsigned int>(in.size()), 1, 0, 0),
            BZ_OK);
  out.resize(len);
  return out;
}

inline std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

// A stored message as the service keeps it: lengths, bzip2 envelope, bzip2 file.
inline std::string Container(const std::string& envelope, const std::string& body) {
  std::string ez = Bz(envelope), bz = Bz(body);
  return Le32(static_cast<uint32_t>(ez.size())) + Le32(static_cast<uint32_t>(envelope.size())) +
         Le32(static_cast<uint32_t>(body.size())) + ez + bz;
}

struct EnvelopeSpec {
  std::string from = "ann";
  std::vector<std::string> to = {"bob"};
  std::string subject = "Hello";
  std::string ext = "txt";
  std::string charset;
  std::string received = "03/04/03 09:00:00";
  std::string sent = "Tue, 4 Mar 2003 10:00:00 +0100";
  std::string msgid = "777";
  std::string parts, currpart;
  bool outbound = false;
};

inline std::string Envelope(const EnvelopeSpec& e) {
  std::string x = "<?xml version=\"1.0\"?>\r\n<!DOCTYPE pxmailfile>\r\n<pxmailfile>\r\n<Header>\r\n";
  x += "<version ver=\"3.01\"/>\r\n<From addr=\"" + e.from + "\" user=\"" + e.from + "\"/>\r\n";
  for (const auto& t : e.to) x += "<To addr=\"" + t + "\"/>\r\n";
  x += "<Date sent=\"" + e.sent + "\" received=\"" + e.received + "\"/>\r\n";
  x += "<Subject>" + e.subject + "</Subject>\r\n";
  x += "<Fileinfo" + (e.charset.empty() ? std::string() : " charset=\"" + e.charset + "\"") +
       " filename=\"x\" ext=\"" + e.ext + "\"/>\r\n";
  if (!e.msgid.empty()) {
    x += "<msgid messageid=\"" + e.msgid + "\"";
    if (!e.parts.empty()) x += " parts=\"" + e.parts + "\" currpart=\"" + e.currpart + "\"";
    x += "/>\r\n";
  }
  if (e.outbound) x += "<Sent>1</Sent>\r\n";
  x += "</Header>\r\n</pxmailfile>\r\n";
  return x;
}

struct FilerFixture : ::testing::Test {
  px::test::TempHome home;
  std::string docs, trash, data, spoolDir, quarantine;
  store::IniRegistry registry;
  RandomSource random{7};
  MessageQueue messages;
  store::UnreadList unread;
  store::NewMailList newMail;
  std::unique_ptr<TPXIniBase> sent;
  std::unique_ptr<mailformat::MailSpool> spool;
  std::string shown;
  std::vector<FiledDocument> filed;
  Decryptor* decryptor = nullptr;
  SortingRules* rules = nullptr;

  void SetUp() override {
    docs = home.path("Documents/");
    trash = docs + "TRASH/";
    data = home.path("data/");
    spoolDir = data + "Inbox/";
    quarantine = QuarantineFolderOf(data);
    px::test::makeDirs(trash);
    px::test::makeDirs(spoolDir);
    sent = std::make_unique<TPXIniBase>(data + "sent.ini");
    spool = std::make_unique<mailformat::MailSpool>(spoolDir, random);
    spool->setSync(false);
  }

  FilingServices services() {
    FilingServices s;
    s.registry = &registry;
    s.random = &random;
    s.unread = &unread;
    s.newMail = &newMail;
    s.sent = sent.get();
    s.messages = &messages;
    s.decryptor = decryptor;
    s.rules = rules;
    s.spoolFolder = spoolDir;
    s.documentsFolder = docs;
    s.quarantineFolder = quarantine;
    s.trashFolder = trash;
    s.shownFolder = [this] { return shown; };
    s.sync = false;
    return s;
  }

  FilingReport runFiler() {
    MailFiler f(services());
    f.onFiled = [this](const FiledDocument& d) { filed.push_back(d); };
    return f.Run();
  }

  // A descriptor pair: lines 1-5 and tagged lines, and the content.
  std::string pair(const std::string& from, const std::string& kind, const std::string& name,
                   const std::vector<std::string>& tags, const std::string& content,
                   const std::string& to = {}) {
    mailformat::PartDescriptor d;
    d.to = to;
    d.from = from;
    d.kind = kind;
    d.name = name;
    for (const auto& t : tags) d.AddLine(t);
    std::string n = spool->NewName();
    EXPECT_TRUE(spool->WriteFile(n, mailformat::kContentExt, content));
    EXPECT_TRUE(spool->WriteFile(n, mailformat::kDescriptorExt, mailformat::FormatPartDescriptor(d)));
    return n;
  }

  // A service download with its marker.
  std::string download(const std::string& container, const std::string& sender = "ann",
                       const std::string& subject = "Hello") {
    std::string n = spool->NewName();
    EXPECT_TRUE(spool->WriteFile(n, mailformat::kContainerExt, container));
    EXPECT_TRUE(spool->WriteFile(n, mailformat::kContainerDoneExt, sender + "\r\n" + subject + "\r\n"));
    return n;
  }

  std::string value(const std::string& folder, const std::string& section, const std::string& key) {
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    return ini.ReadString(section, key, "<none>");
  }
  StringList sections(const std::string& folder) {
    store::TPXIniFile ini(registry, store::IndexPathOf(folder));
    StringList all;
    ini.ReadSections(all);
    return all;
  }
  bool exists(const std::string& path) {
    struct stat st{};
    return ::lstat(path.c_str(), &st) == 0;
  }
  // Names of the spool's files (hidden ones left out).
  StringList spoolFiles() {
    StringList out;
    for (auto ext : {mailformat::kRawExt, mailformat::kDescriptorExt, mailformat::kContentExt,
                     mailformat::kEncryptedExt, mailformat::kContainerExt, mailformat::kContainerDoneExt,
                     mailformat::kFailedExt})
      for (const auto& n : spool->List(ext)) out.push_back(n + std::string(ext));
    return out;
  }
};

}  // namespace px::incoming::test
