#include <gtest/gtest.h>

#include <string>

#include "contacts/vcard.h"

namespace px::contacts {
namespace {

std::string Crlf(std::string s) {
  std::string out;
  for (char c : s) {
    if (c == '\n') out += "\r\n";
    else out += c;
  }
  return out;
}

AddrRec RoundTrip(const AddrRec& rec) { return ReadVCard(WriteVCard(rec, "20030304T101500")); }

TEST(VCardWrite, NamesAndServiceAddress) {
  AddrRec rec;
  rec.firstName = "Jan Piet";
  rec.lastName = "Vries";
  rec.primaryEmail = "alice";
  rec.otherEmails = "jan@example.org, piet@example.org";
  std::string card = WriteVCard(rec, "20030304T101500");
  EXPECT_NE(card.find("\r\nN:Vries;Jan;Piet\r\n"), std::string::npos) << card;
  EXPECT_NE(card.find("\r\nFN:Jan Piet Vries\r\n"), std::string::npos);
  EXPECT_NE(card.find("\r\nEMAIL;PREF;INTERNET:alice@plumadex.net\r\n"), std::string::npos);
  EXPECT_NE(card.find("\r\nEMAIL;INTERNET:piet@example.org\r\n"), std::string::npos);
  EXPECT_NE(card.find("\r\nX-PLUMADEX:0001349\r\nREV:20030304T101500\r\nEND:VCARD\r\n"),
            std::string::npos);
  EXPECT_TRUE(card.starts_with("BEGIN:VCARD\r\nVERSION:2.1\r\n"));
  AddrRec back = ReadVCard(card);
  EXPECT_EQ(back, rec);
  EXPECT_EQ(back.primaryEmail, "alice");
}

TEST(VCardWrite, PhoneKindsAndShownKinds) {
  AddrRec rec;
  rec.shownPhoneKinds = {0, 1, pkMobile, pkCar, 11};
  rec.shownAddressType = 1;
  rec.encrypt = true;
  rec.phones[pkCar] = "555-1";
  rec.phones[pkBusiness2] = "555-2";
  rec.phones[pkBusiness] = "555-3";
  std::string card = WriteVCard(rec, "x");
  EXPECT_NE(card.find("X-PLUMADEX:11019:;\r\n"), std::string::npos) << card;
  EXPECT_NE(card.find("TEL;CAR;VOICE:555-1"), std::string::npos);
  EXPECT_EQ(RoundTrip(rec), rec);
}

TEST(VCardWrite, AwkwardValuesReadBackTheSame) {
  AddrRec rec;
  rec.firstName = "Ann";
  rec.lastName = "O;Brien\\";
  rec.organisation = "Acme; Sales";
  rec.position = "Line one\r\nLine two";
  rec.business.street1 = "Main St. 1; back door";
  rec.business.city = "Zürich";
  rec.home.country = "Nederland";
  rec.notes = "Notes with\r\nlines and ümlauts";
  rec.phones[pkHome] = "=123";
  AddrRec back = RoundTrip(rec);
  EXPECT_EQ(back, rec);
  std::string card = WriteVCard(rec, "x");
  EXPECT_NE(card.find("ROLE;ENCODING=QUOTED-PRINTABLE:Line one=0D=0ALine two\r\n"), std::string::npos)
      << card;
  EXPECT_NE(card.find("ADR;WORK;CHARSET=UTF-8:;;Main St. 1\\; back door;Zürich\r\n"), std::string::npos);
  EXPECT_NE(card.find("ADR;HOME:;;;;;;Nederland\r\n"), std::string::npos);
}

TEST(VCardRead, UnknownLinesAreKeptAndWrittenAfterTheNotes) {
  std::string card = Crlf(
      "BEGIN:VCARD\nVERSION:2.1\nN:Smith;John\nNICKNAME:Johnny\nBDAY:1970-01-01\n"
      "NOTE:hello\nEND:VCARD\n");
  AddrRec rec = ReadVCard(card);
  EXPECT_EQ(rec.extraLines, "NICKNAME:Johnny\r\nBDAY:1970-01-01");
  std::string out = WriteVCard(rec, "x");
  EXPECT_NE(out.find(" aGVsbG8=\r\nNICKNAME:Johnny\r\nBDAY:1970-01-01\r\nX-PLUMADEX"), std::string::npos)
      << out;
}

struct CardCase {
  const char* label;
  const char* card;
  const char* first;
  const char* last;
  const char* org;
  const char* primary;
  const char* others;
  const char* notes;
};

class RealWorldCards : public ::testing::TestWithParam<CardCase> {};

TEST_P(RealWorldCards, Fields) {
  const CardCase& c = GetParam();
  AddrRec rec = ReadVCard(Crlf(c.card));
  EXPECT_EQ(rec.firstName, c.first);
  EXPECT_EQ(rec.lastName, c.last);
  EXPECT_EQ(rec.organisation, c.org);
  EXPECT_EQ(rec.primaryEmail, c.primary);
  EXPECT_EQ(rec.otherEmails, c.others);
  EXPECT_EQ(rec.notes, c.notes);
  // Whatever was read is written and read back to the same record.
  EXPECT_EQ(RoundTrip(rec), rec);
}

INSTANTIATE_TEST_SUITE_P(
    Cards, RealWorldCards,
    ::testing::Values(
        CardCase{"outlook_qp_soft_breaks",
                 "BEGIN:VCARD\nVERSION:2.1\nN;LANGUAGE=de;CHARSET=Windows-1252:M\xfcller;Hans\n"
                 "FN:Hans M\xfcller\nORG:Kavenstow GmbH;Vertrieb\n"
                 "NOTE;ENCODING=QUOTED-PRINTABLE:Erste Zeile=0D=0AZweite Zeile, sehr lang und =\n"
                 "weiter hier=0D=0A\n"
                 "EMAIL;PREF;INTERNET:hans@example.de\nEND:VCARD\n",
                 "Hans", "Müller", "Kavenstow GmbH, Vertrieb", "hans@example.de", "",
                 "Erste Zeile\r\nZweite Zeile, sehr lang und weiter hier"},
        CardCase{"v30_type_lists_and_folding",
                 "BEGIN:VCARD\nVERSION:3.0\nN:Doe;Jane;;Dr.;\nFN:Dr. Jane Doe\n"
                 "EMAIL;TYPE=INTERNET,HOME:jane@home.example\n"
                 "EMAIL;TYPE=INTERNET,WORK,pref:jane@work.exa\n mple\n"
                 "TEL;TYPE=work,voice:+1 555 0100\nTEL;TYPE=CELL:+1 555 0199\n"
                 "NOTE:Met at the fair\\, 2019\\nCall back\n"
                 "item1.ADR;TYPE=home:;;12 Elm St;Springfield;IL;62701;USA\nEND:VCARD\n",
                 "Jane", "Doe", "", "jane@work.example", "jane@home.example",
                 "Met at the fair, 2019\r\nCall back"},
        CardCase{"v40_fn_only_utf8",
                 "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Zoë Ångström\r\n"
                 "EMAIL;PREF=1:zoe@example.se\r\nTEL;VALUE=uri;TYPE=\"cell,voice\":tel:+46-70-1234\r\n"
                 "END:VCARD\r\n",
                 "Zoë", "Ångström", "", "zoe@example.se", "", ""},
        CardCase{"no_name", "BEGIN:VCARD\nVERSION:2.1\nORG:Helpdesk\nEMAIL:help@example.com\nEND:VCARD\n",
                 "", "", "Helpdesk", "help@example.com", "", ""},
        CardCase{"base64_photo_kept",
                 "BEGIN:VCARD\nVERSION:2.1\nN:Photo;Pat\n"
                 "PHOTO;TYPE=JPEG;ENCODING=BASE64:\n /9j/4AAQSkZJRgABAQEASABIAAD/2wBDAAMCAgMCAgMDAwMEAwMEBQgFBQQEBQoHBwYI\n"
                 " DAoMCwsKCwsNDhIQDQ4RDgsLEBYQERMUFRUVDA8XGBYUGBIUFRT/wAALCAABAAEBAREA\n\n"
                 "NOTE;BASE64:\n SGVsbG8gd29ybGQ=\n\nEND:VCARD\n",
                 "Pat", "Photo", "", "", "", "Hello world"},
        CardCase{"service_user_and_mailto",
                 "BEGIN:VCARD\nVERSION:4.0\nN:Lee;Kim;;;\nEMAIL:mailto:kim@PLUMADEX.NET\nEND:VCARD\n",
                 "Kim", "Lee", "", "kim", "", ""}),
    [](const ::testing::TestParamInfo<CardCase>& i) { return std::string(i.param.label); });

TEST(VCardRead, PhotoLinesStayWholeAmongTheExtraLines) {
  std::string card = Crlf(
      "BEGIN:VCARD\nVERSION:2.1\nN:Photo;Pat\nPHOTO;ENCODING=BASE64:\n AAAA\n BBBB\n\nEND:VCARD\n");
  AddrRec rec = ReadVCard(card);
  EXPECT_EQ(rec.extraLines, "PHOTO;ENCODING=BASE64:\r\n AAAA\r\n BBBB");
}

TEST(VCardRead, FiftyAddresses) {
  std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Many;Max\r\n";
  for (int i = 0; i < 50; ++i) card += "EMAIL;INTERNET:max" + std::to_string(i) + "@example.com\r\n";
  card += "END:VCARD\r\n";
  AddrRec rec = ReadVCard(card);
  EXPECT_EQ(rec.primaryEmail, "max0@example.com");
  EXPECT_EQ(rec.OtherEmailList().size(), 49u);
  EXPECT_EQ(rec.OtherEmailList().back(), "max49@example.com");
  EXPECT_EQ(RoundTrip(rec), rec);
}

TEST(VCardRead, PhoneRules) {
  AddrRec rec = ReadVCard(Crlf(
      "BEGIN:VCARD\nVERSION:2.1\nTEL;WORK:1\nTEL;WORK:2\nTEL;HOME:3\nTEL;CELL:4\nTEL;FAX:5\n"
      "TEL:6\nTEL;PREF:7\nX-PLUMADEX:09:5?!\nEND:VCARD\n"));
  EXPECT_EQ(rec.phones[pkBusiness], "1");
  EXPECT_EQ(rec.phones[pkBusiness2], "2");
  EXPECT_EQ(rec.phones[pkHome], "3");
  EXPECT_EQ(rec.phones[pkMobile], "4");
  EXPECT_EQ(rec.phones[pkOtherFax], "5");
  EXPECT_EQ(rec.phones[pkOther], "6");
  EXPECT_EQ(rec.phones[pkPrimary], "7");
  EXPECT_FALSE(rec.encrypt);
  EXPECT_EQ(rec.shownAddressType, 0);  // "9" is above 2
  EXPECT_EQ(rec.shownPhoneKinds[0], pkCar);   // ":"
  EXPECT_EQ(rec.shownPhoneKinds[1], 5);
  EXPECT_EQ(rec.shownPhoneKinds[2], 0);  // "?" is 15
  EXPECT_EQ(rec.shownPhoneKinds[3], 0);  // "!" is below "0"
  EXPECT_EQ(rec.shownPhoneKinds[4], pkMobile);  // missing: default kept
}

TEST(VCardRead, SeveralCardsInOneFile) {
  std::string text = Crlf(
      "BEGIN:VCARD\nVERSION:3.0\nFN:One\nEMAIL:one@example.com\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:2.1\nN:Two;\nEMAIL:two@example.com\nEND:VCARD\n"
      "BEGIN:VCARD\nVERSION:4.0\nFN:Three\nEND:VCARD\n");
  auto cards = ReadVCards(text);
  ASSERT_EQ(cards.size(), 3u);
  EXPECT_EQ(cards[0].firstName, "One");
  EXPECT_EQ(cards[1].lastName, "Two");
  EXPECT_EQ(cards[1].primaryEmail, "two@example.com");
  EXPECT_EQ(cards[2].firstName, "Three");
  // A contact file is its first card only: the others are never merged into it.
  AddrRec first = ReadVCard(text);
  EXPECT_EQ(first.firstName, "One");
  EXPECT_TRUE(first.extraLines.empty());
  EXPECT_EQ(first.primaryEmail, "one@example.com");
}

TEST(VCardRead, EmptyAndMalformed) {
  EXPECT_EQ(ReadVCard(""), AddrRec());
  EXPECT_EQ(ReadVCard("BEGIN:VCARD\r\nEND:VCARD\r\n"), AddrRec());
  AddrRec odd = ReadVCard("BEGIN:VCARD\r\nthis is no property\r\nEMAIL:\r\nEND:VCARD");
  EXPECT_EQ(odd.primaryEmail, "");
  EXPECT_EQ(odd.extraLines, "this is no property\r\nEMAIL:");
  EXPECT_EQ(RoundTrip(odd), odd);
}

}  // namespace
}  // namespace px::contacts
