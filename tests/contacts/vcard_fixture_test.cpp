// Cards as other programs write them (a rolodex-style contact manager, evolution-data-server,
// an older 2.1 exporter), read from tests/data/vcards: what the contact shows, what the card
// written back says, and that reading it again gives the same contact.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "contacts/contact_editor.h"
#include "contacts/contact_summary.h"
#include "contacts/vcard.h"
#include "support/test_paths.h"
#include "support/test_support.h"

namespace px::contacts {
namespace {

std::vector<AddrRec> Fixture(const std::string& name) {
  return ReadVCards(test::readFile(std::string(PX_TEST_DATA) + "/vcards/" + name));
}

AddrRec Card(const std::string& file, size_t index) {
  std::vector<AddrRec> cards = Fixture(file);
  EXPECT_LT(index, cards.size()) << file;
  return index < cards.size() ? cards[index] : AddrRec();
}

struct FieldCase {
  const char* label;
  const char* file;
  size_t card;
  std::function<std::string(const AddrRec&)> field;
  const char* expected;
};

class FixtureFields : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FixtureFields, ReadAsTheCardMeansIt) {
  const FieldCase& c = GetParam();
  const AddrRec rec = Card(c.file, c.card);
  EXPECT_EQ(c.field(rec), c.expected);
}

std::string First(const AddrRec& r) { return r.firstName; }
std::string Last(const AddrRec& r) { return r.lastName; }
std::string Org(const AddrRec& r) { return r.organisation; }
std::string Prefix(const AddrRec& r) { return r.namePrefix; }
std::string Suffix(const AddrRec& r) { return r.nameSuffix; }
std::string Formatted(const AddrRec& r) { return r.formattedName; }
std::string Primary(const AddrRec& r) { return r.primaryEmail; }
std::string Others(const AddrRec& r) { return r.otherEmails; }
std::string Notes(const AddrRec& r) { return r.notes; }
std::string Extra(const AddrRec& r) { return r.extraLines; }
std::string Other(const AddrRec& r) { return r.phones[pkOther]; }
std::string Business(const AddrRec& r) { return r.phones[pkBusiness]; }
std::string Mobile(const AddrRec& r) { return r.phones[pkMobile]; }
std::string HomeStreet(const AddrRec& r) { return r.home.street1 + "|" + r.home.street2 + "|" + r.home.city; }
std::string WorkAddress(const AddrRec& r) {
  return r.business.street1 + "|" + r.business.street2 + "|" + r.business.city + "|" + r.business.postalCode + "|" +
         r.business.country;
}
std::function<std::string(const AddrRec&)> ExtraHas(std::string line) {
  return [line](const AddrRec& r) { return r.extraLines.find(line) != std::string::npos ? line : r.extraLines; };
}

INSTANTIATE_TEST_SUITE_P(
    Cards, FixtureFields,
    ::testing::Values(
        // N with a single word of the formatted name: the formatted name says who it is.
        FieldCase{"rolodex_sparse_n_first", "rolodex.vcf", 0, First, "Janet"},
        FieldCase{"rolodex_sparse_n_last", "rolodex.vcf", 0, Last, "Jackson"},
        FieldCase{"rolodex_untyped_phone_is_other", "rolodex.vcf", 0, Other, "+1 555 0142"},
        // A given name of two words stays one given name.
        FieldCase{"rolodex_given_two_words", "rolodex.vcf", 1, First, "First Name"},
        FieldCase{"rolodex_family_utf8", "rolodex.vcf", 1, Last, "Bäd"},
        FieldCase{"rolodex_org_escaped_comma", "rolodex.vcf", 1, Org, "ABC, Inc., North American Division, Marketing"},
        FieldCase{"rolodex_note_escapes", "rolodex.vcf", 1, Notes, "Met at the fair, 2019\r\nCall back"},
        FieldCase{"rolodex_unknown_x_kept", "rolodex.vcf", 1, ExtraHas("X-ROLO-TAG:friend"), "X-ROLO-TAG:friend"},
        FieldCase{"rolodex_title_kept", "rolodex.vcf", 1, ExtraHas("TITLE:Buyer"), "TITLE:Buyer"},
        FieldCase{"rolodex_second_untyped_phone_kept", "rolodex.vcf", 1, ExtraHas("TEL:+1 555 0102"), "TEL:+1 555 0102"},
        // Honorifics stay apart from the names.
        FieldCase{"rolodex_prefix", "rolodex.vcf", 2, Prefix, "Mr."},
        FieldCase{"rolodex_suffix", "rolodex.vcf", 2, Suffix, "Esq."},
        FieldCase{"rolodex_last_without_suffix", "rolodex.vcf", 2, Last, "Public"},
        FieldCase{"rolodex_middle_name", "rolodex.vcf", 2, First, "John Quinlan"},
        FieldCase{"rolodex_formatted_name", "rolodex.vcf", 2, Formatted, "Mr. John Q. Public, Esq."},
        FieldCase{"rolodex_home_address", "rolodex.vcf", 2, HomeStreet, "12 Elm St|Apt. 4|Springfield"},
        FieldCase{"evolution_prefix", "evolution.vcf", 0, Prefix, "Dr."},
        FieldCase{"evolution_formatted", "evolution.vcf", 0, Formatted, "Dr. Ann Smith"},
        FieldCase{"evolution_grouped_email_primary", "evolution.vcf", 0, Primary, "ann.alt@example.org"},
        FieldCase{"evolution_other_emails", "evolution.vcf", 0, Others, "ann@work.example, ann@home.example"},
        FieldCase{"evolution_work_phone", "evolution.vcf", 0, Business, "+44 20 7946 0000"},
        FieldCase{"evolution_cell", "evolution.vcf", 0, Mobile, "+44 7700 900000"},
        FieldCase{"evolution_address", "evolution.vcf", 0, WorkAddress, "1 Main Street|Floor 3|London|SW1A 1AA|United Kingdom"},
        FieldCase{"evolution_note", "evolution.vcf", 0, Notes,
                  "Prefers e-mail; calls only in the morning.\r\nSpeaks Welsh, English."},
        FieldCase{"evolution_label_of_group_kept", "evolution.vcf", 0, ExtraHas("item1.X-ABLabel:Conference"),
                  "item1.X-ABLabel:Conference"},
        FieldCase{"evolution_file_as_kept", "evolution.vcf", 0, ExtraHas("X-EVOLUTION-FILE-AS:Smith\\, Ann"),
                  "X-EVOLUTION-FILE-AS:Smith\\, Ann"},
        // A phone of a kind the record has no place for is an Other phone.
        FieldCase{"evolution_company_phone_is_other", "evolution.vcf", 0, Other, "+44 20 7946 0999"},
        FieldCase{"v21_qp_charset_family", "v21_qp_latin1.vcf", 0, Last, "Müller"},
        FieldCase{"v21_qp_charset_first", "v21_qp_latin1.vcf", 0, First, "Jürgen"},
        FieldCase{"v21_prefix_two_words", "v21_qp_latin1.vcf", 0, Prefix, "Prof. Dr."},
        FieldCase{"v21_org_units", "v21_qp_latin1.vcf", 0, Org, "Großhandel Nord, Einkauf"},
        FieldCase{"v21_qp_soft_break_address", "v21_qp_latin1.vcf", 0, HomeStreet,
                  "Hauptstraße 5\r\nHinterhaus||Köln"},
        FieldCase{"v21_voice_is_other", "v21_qp_latin1.vcf", 0, Other, "0221 123456"}),
    [](const ::testing::TestParamInfo<FieldCase>& i) { return std::string(i.param.label); });

// Every card of every fixture: read, written and read again gives the same contact, and
// writing that again gives the same card.
class FixtureRoundTrip : public ::testing::TestWithParam<const char*> {};

TEST_P(FixtureRoundTrip, WrittenCardsReadBackTheSame) {
  const std::vector<AddrRec> cards = Fixture(GetParam());
  ASSERT_FALSE(cards.empty());
  for (size_t i = 0; i < cards.size(); ++i) {
    SCOPED_TRACE("card " + std::to_string(i));
    const std::string written = WriteVCard(cards[i], "20030304T101500");
    const AddrRec back = ReadVCard(written);
    EXPECT_EQ(back, cards[i]) << written;
    EXPECT_EQ(WriteVCard(back, "20030304T101500"), written);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, FixtureRoundTrip,
                         ::testing::Values("rolodex.vcf", "evolution.vcf", "v21_qp_latin1.vcf"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                           std::string n = i.param;
                           return n.substr(0, n.find('.'));
                         });

struct LineCase {
  const char* label;
  const char* file;
  size_t card;
  const char* line;  // a whole line of the written card
};

class FixtureWrittenLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(FixtureWrittenLines, WrittenCardSaysTheSame) {
  const LineCase& c = GetParam();
  const std::string written = WriteVCard(Card(c.file, c.card), "20030304T101500");
  EXPECT_NE(written.find("\r\n" + std::string(c.line) + "\r\n"), std::string::npos) << written;
}

INSTANTIATE_TEST_SUITE_P(
    Cards, FixtureWrittenLines,
    ::testing::Values(
        LineCase{"sparse_n_completed", "rolodex.vcf", 0, "N:Jackson;Janet"},
        LineCase{"formatted_name", "rolodex.vcf", 0, "FN:Janet Jackson"},
        LineCase{"untyped_phone", "rolodex.vcf", 0, "TEL;VOICE:+1 555 0142"},
        LineCase{"given_name_in_one_piece", "rolodex.vcf", 1, "N;CHARSET=UTF-8:Bäd;First Name"},
        LineCase{"org_units", "rolodex.vcf", 1, "ORG:ABC, Inc.;North American Division;Marketing"},
        LineCase{"prefix_and_suffix", "rolodex.vcf", 2, "N:Public;John;Quinlan;Mr.;Esq."},
        LineCase{"formatted_with_honorifics", "rolodex.vcf", 2, "FN:Mr. John Q. Public, Esq."},
        LineCase{"unknown_kept", "rolodex.vcf", 2, "NICKNAME:Johnny"},
        LineCase{"grouped_email", "evolution.vcf", 0, "item1.EMAIL;PREF;INTERNET:ann.alt@example.org"},
        LineCase{"group_label", "evolution.vcf", 0, "item1.X-ABLabel:Conference"},
        LineCase{"evolution_prefix", "evolution.vcf", 0, "N:Smith;Ann;;Dr."},
        LineCase{"evolution_uid", "evolution.vcf", 0, "UID:pas-id-5E3A1B2C00000001"},
        LineCase{"latin1_prefix", "v21_qp_latin1.vcf", 0, "N;CHARSET=UTF-8:Müller;Jürgen;;Prof. Dr."},
        LineCase{"latin1_org", "v21_qp_latin1.vcf", 0, "ORG;CHARSET=UTF-8:Großhandel Nord;Einkauf"}),
    [](const ::testing::TestParamInfo<LineCase>& i) { return std::string(i.param.label); });

TEST(VCardFixtures, PhotoComesBackWhole) {
  const std::string text = test::readFile(std::string(PX_TEST_DATA) + "/vcards/evolution.vcf");
  const AddrRec rec = ReadVCard(text);
  const size_t at = text.find("PHOTO;");
  const std::string photo = text.substr(at, text.find("\r\nUID:") - at);
  EXPECT_NE(rec.extraLines.find(photo), std::string::npos);
  EXPECT_NE(WriteVCard(rec, "x").find(photo + "\r\n"), std::string::npos);
}

TEST(VCardFixtures, UntypedPhonesAreShownAsOther) {
  const AddrRec janet = Card("rolodex.vcf", 0);
  // The default rows (Primary, Business, Business Fax, Home, Mobile) leave Other out.
  const auto kinds = VisiblePhoneKinds(janet);
  EXPECT_NE(std::find(kinds.begin(), kinds.end(), pkOther), kinds.end());
  ContactEditor editor(janet, false);
  bool shown = false;
  for (int row = 0; row < kShownPhones; ++row)
    if (editor.PhoneKindOfRow(row) == pkOther) shown = editor.PhoneOfRow(row) == "+1 555 0142";
  EXPECT_TRUE(shown);
  const std::string summary = ContactSummary(janet, '\n', true);
  EXPECT_NE(summary.find("    Other: +1 555 0142"), std::string::npos) << summary;
  // A second phone without a type stays a line of the card and is shown as Other too.
  const AddrRec bad = Card("rolodex.vcf", 1);
  EXPECT_EQ(KeptPhoneNumbers(bad), std::vector<std::string>{"+1 555 0102"});
  const std::string badSummary = ContactSummary(bad, '\n', true);
  EXPECT_NE(badSummary.find("    Business: +1 555 0100\n    Other: +1 555 0102"), std::string::npos) << badSummary;
  // Rows with numbers keep their kinds.
  AddrRec rec;
  rec.phones[pkBusiness] = "1";
  rec.phones[pkOther] = "2";
  rec.phones[pkCar] = "3";
  const auto k = VisiblePhoneKinds(rec);
  EXPECT_EQ(k[1], pkBusiness);
  EXPECT_EQ(std::count(k.begin(), k.end(), pkOther), 1);
  EXPECT_EQ(std::count(k.begin(), k.end(), pkCar), 1);
}

TEST(VCardFixtures, EditingTheNamesDropsTheOldFormattedName) {
  ContactEditor editor(Card("rolodex.vcf", 2), false);
  EXPECT_EQ(editor.Saved().formattedName, "Mr. John Q. Public, Esq.");
  editor.Record().lastName = "Private";
  const AddrRec saved = editor.Saved();
  EXPECT_EQ(saved.formattedName, "");
  EXPECT_EQ(saved.namePrefix, "Mr.");
  const std::string written = WriteVCard(saved, "x");
  EXPECT_NE(written.find("\r\nFN:John Quinlan Private\r\n"), std::string::npos) << written;
  EXPECT_NE(written.find("\r\nN:Private;John;Quinlan;Mr.;Esq.\r\n"), std::string::npos) << written;
}

}  // namespace
}  // namespace px::contacts
