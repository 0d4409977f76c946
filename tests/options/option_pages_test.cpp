#include "desk/option_pages.h"

#include "foundation/charset.h"
#include "foundation/settings.h"

#include <gtest/gtest.h>

#include <functional>

namespace px::desk {
namespace {

TEST(OptionPages, CaptionsPanelsAndNotes) {
  for (int i = 0; i < kOptionPageCount; ++i) {
    const auto p = static_cast<OptionPage>(i);
    EXPECT_EQ(OptionPageOf(OptionPageCaption(p)), p);
  }
  EXPECT_EQ(OptionPanelName(OptionPage::PXMail), "pnlSetPXMail");
  EXPECT_FALSE(OptionPageOf("Options").has_value());
  // Working pages carry no note; the ones waiting for their subsystem say what will come.
  for (auto p : {OptionPage::Personal, OptionPage::Appearance, OptionPage::PXMail, OptionPage::ExtMail,
                 OptionPage::BlackList})
    EXPECT_EQ(OptionPageNote(p), "");
  for (auto p : {OptionPage::Encryption, OptionPage::Import, OptionPage::Wizard}) EXPECT_NE(OptionPageNote(p), "");
}

TEST(PersonalPage, ShowsTheStoredValues) {
  Settings s;
  s.SetName("Jo Smith");
  s.SetID("jo");
  s.SetUseAlternativeFromAddress(true);
  s.SetAlternativeFromAddresses("a@x.org,b@x.org");
  s.SetAlternativeFromAddress("c@x.org");
  s.SetMessageFormat(1);
  s.SetDefaultCharset("ISO-8859-1");
  s.WriteInteger(kUserSection, "Use Signature", 1);
  const PersonalValues v = ShowPersonal(s);
  EXPECT_EQ(v.name, "Jo Smith");
  EXPECT_EQ(v.userAddress, "<jo@plumadex.net>");
  // The chosen address is added to the list when missing, and it is the ticked one.
  ASSERT_EQ(v.fromList, (std::vector<std::string>{"a@x.org", "b@x.org", "c@x.org"}));
  EXPECT_EQ(v.checkedFrom, 2);
  EXPECT_EQ(v.messageFormat, 1);
  ASSERT_GE(v.charsetRow, 0);
  EXPECT_EQ(CharsetRows()[static_cast<size_t>(v.charsetRow)].webCharset, "iso-8859-1");
  EXPECT_TRUE(v.useSignature);
  EXPECT_EQ(ShowPersonal(Settings()).userAddress, "");
}

// Each case changes one thing on the page; exactly the named keys are written.
struct PersonalCase {
  const char* what;
  std::function<void(PersonalValues&)> change;
  std::vector<const char*> written;
};

class PersonalSaves : public ::testing::TestWithParam<PersonalCase> {};

TEST_P(PersonalSaves, WritesOnlyWhatChanged) {
  Settings s;
  s.SetName("Jo");
  s.SetAlternativeFromAddresses("a@x.org,b@x.org");
  s.SetAlternativeFromAddress("a@x.org");
  s.SetUseAlternativeFromAddress(true);
  s.SetSignature("Jo~Lab");
  const PersonalValues shown = ShowPersonal(s);
  // Keys the test watches are removed after showing: whatever comes back was written.
  const char* keys[] = {"Name", "Use Alternative From Address", "Alternative From Address", "Alternative From Addresses",
                        "Message Format", "Default Charset", "Use Signature", "Signature", "No Tags"};
  for (const char* k : keys) s.DeleteKey(kUserSection, k);
  PersonalValues now = shown;
  GetParam().change(now);
  const bool any = SavePersonal(s, shown, now);
  std::vector<std::string> got;
  for (const char* k : keys)
    if (s.ValueExists(kUserSection, k)) got.push_back(k);
  std::vector<std::string> want(GetParam().written.begin(), GetParam().written.end());
  EXPECT_EQ(got, want) << GetParam().what;
  EXPECT_EQ(any, !want.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Options, PersonalSaves,
    ::testing::Values(
        PersonalCase{"nothing", [](PersonalValues&) {}, {}},
        PersonalCase{"name", [](PersonalValues& v) { v.name = "Jo Smith"; }, {"Name"}},
        PersonalCase{"signature text only", [](PersonalValues& v) { v.signature = "Jo\nLab 2"; }, {"Signature"}},
        PersonalCase{"signature switch only", [](PersonalValues& v) { v.useSignature = true; }, {"Use Signature"}},
        PersonalCase{"format", [](PersonalValues& v) { v.messageFormat = 1; }, {"Message Format"}},
        PersonalCase{"charset", [](PersonalValues& v) { v.charsetRow = 0; }, {"Default Charset"}},
        PersonalCase{"no tags", [](PersonalValues& v) { v.noTags = true; }, {"No Tags"}},
        PersonalCase{"untick every address", [](PersonalValues& v) { TickFromEntry(v, 0, false); },
                     {"Use Alternative From Address", "Alternative From Address"}},
        PersonalCase{"tick another", [](PersonalValues& v) { TickFromEntry(v, 1, true); }, {"Alternative From Address"}},
        PersonalCase{"add an address", [](PersonalValues& v) { SaveFromEntry(v, -1, " c@x.org "); },
                     {"Alternative From Addresses"}}));

TEST(PersonalPage, UntickingEveryAddressTurnsTheOptionOff) {
  Settings s;
  s.SetAlternativeFromAddresses("a@x.org");
  s.SetAlternativeFromAddress("a@x.org");
  s.SetUseAlternativeFromAddress(true);
  const PersonalValues shown = ShowPersonal(s);
  PersonalValues now = shown;
  TickFromEntry(now, 0, false);
  ASSERT_TRUE(now.useAlternativeFrom);  // the box stays ticked
  SavePersonal(s, shown, now);
  EXPECT_FALSE(s.UseAlternativeFromAddress());
  EXPECT_EQ(s.AlternativeFromAddress(), "");
}

TEST(PersonalPage, SignatureRoundTripsThroughTheEncodedForm) {
  Settings s;
  const PersonalValues shown = ShowPersonal(s);
  PersonalValues now = shown;
  now.signature = "Jo ~ Smith\nKavenstow Labs";
  SavePersonal(s, shown, now);
  EXPECT_EQ(s.Signature(), "Jo ;~ Smith~Kavenstow Labs");
  EXPECT_EQ(ShowPersonal(s).signature, now.signature);
}

TEST(PersonalPage, FromListEditing) {
  PersonalValues v;
  EXPECT_EQ(SaveFromEntry(v, -1, "  "), -1);
  EXPECT_EQ(SaveFromEntry(v, -1, "a@x.org, b@x.org"), -1);  // would split the comma list
  EXPECT_EQ(SaveFromEntry(v, -1, " a@x.org "), 0);
  EXPECT_EQ(SaveFromEntry(v, -1, "b@x.org"), 1);
  EXPECT_EQ(SaveFromEntry(v, 0, "c@x.org"), 0);
  EXPECT_EQ(v.fromList, (std::vector<std::string>{"c@x.org", "b@x.org"}));
  TickFromEntry(v, 1, true);
  TickFromEntry(v, 0, true);  // at most one ticked
  EXPECT_EQ(v.checkedFrom, 0);
  TickFromEntry(v, 1, true);
  RemoveFromEntry(v, 0);
  EXPECT_EQ(v.checkedFrom, 0);  // follows its entry
  RemoveFromEntry(v, 0);
  EXPECT_EQ(v.checkedFrom, -1);
  EXPECT_TRUE(v.fromList.empty());
}

TEST(AppearancePage, SavesChangedValuesAndFontsAtOnce) {
  Settings s;
  const AppearanceValues shown = ShowAppearance(s);
  EXPECT_TRUE(shown.highlightBold);
  EXPECT_TRUE(shown.useSliding);
  AppearanceValues now = shown;
  EXPECT_FALSE(SaveAppearance(s, shown, now));
  EXPECT_FALSE(s.ValueExists(kSettingsSection, "Highlight Font Bold"));
  now.highlightBold = false;
  now.useHighlightColor = true;
  now.highlightColor = 0x00FF0000;
  EXPECT_TRUE(SaveAppearance(s, shown, now));
  EXPECT_EQ(ShowAppearance(s), now);
  EXPECT_FALSE(s.ValueExists(kSettingsSection, "Use Sliding"));

  FontValue base;
  FontValue f{"DejaVu Serif", 255, 12, true, false, true};
  WriteFont(s, FontRole::File, f);
  EXPECT_EQ(s.ReadString(kSettingsSection, "File Font"), "DejaVu Serif,255,12,bu");
  EXPECT_EQ(ReadFont(s, FontRole::File, base), f);
  EXPECT_EQ(ReadFont(s, FontRole::Folder, base), base);
  EXPECT_EQ(FontDialogCaption(FontRole::HtmlEditor), "Select font for Rich Text (HTML) editor");
}

struct PXMailCase {
  const char* what;
  PXMailValues now;
  const char* refusal;  // "" when accepted
};

class PXMailChecks : public ::testing::TestWithParam<PXMailCase> {};

TEST_P(PXMailChecks, LocalServerAndIntervalAreChecked) {
  const auto& c = GetParam();
  const std::string msg = CheckPXMail(c.now);
  EXPECT_EQ(msg.rfind(c.refusal, 0), 0u) << c.what << ": " << msg;
  if (*c.refusal == 0) {
    EXPECT_EQ(msg, "") << c.what;
  }
  Settings s;
  const PXMailSaved saved = SavePXMail(s, ShowPXMail(s), c.now);
  if (*c.refusal) {
    EXPECT_FALSE(saved.written) << c.what;
    EXPECT_FALSE(s.ValueExists(kUserSection, "Local Server")) << c.what;
    EXPECT_FALSE(s.ValueExists(kUserSection, "Use Local Server")) << c.what;
  }
}

PXMailValues Mail(bool local, std::string server, int interval = 15) {
  PXMailValues v;
  v.useLocalServer = local;
  v.localServer = std::move(server);
  v.interval = interval;
  return v;
}

INSTANTIATE_TEST_SUITE_P(
    Options, PXMailChecks,
    ::testing::Values(PXMailCase{"off, blank", Mail(false, ""), ""},
                      PXMailCase{"host and port", Mail(true, " mail.lan:8443 "), ""},
                      PXMailCase{"ticked but blank", Mail(true, "  "), "Please enter the name of the local server"},
                      PXMailCase{"blank inside", Mail(true, "mail lan"), "Sorry, but the local server"},
                      PXMailCase{"key breaker", Mail(true, "a=b"), "Sorry, but the local server"},
                      PXMailCase{"path", Mail(true, "a/b"), "Sorry, but the local server"},
                      PXMailCase{"interval 0", Mail(false, "", 0), "Please enter a mail check interval"},
                      PXMailCase{"interval 601", Mail(false, "", 601), "Please enter a mail check interval"}));

TEST(PXMailPage, TimerIsSetAnewOnlyWhenTheCheckChanges) {
  Settings s;
  PXMailValues shown = ShowPXMail(s);
  EXPECT_EQ(shown.interval, 15);
  PXMailValues now = shown;
  now.keepOnServer = true;
  PXMailSaved r = SavePXMail(s, shown, now);
  EXPECT_TRUE(r.written);
  EXPECT_FALSE(r.checkTimerChanged);
  EXPECT_TRUE(s.KeepOnServer());

  shown = ShowPXMail(s);
  now = shown;
  now.autoCheck = true;
  now.interval = 1;
  r = SavePXMail(s, shown, now);
  EXPECT_TRUE(r.checkTimerChanged);
  EXPECT_TRUE(s.AutoCheckMail());
  EXPECT_EQ(s.MailCheckInterval(), 1);

  // The local server is written only while its box is ticked.
  shown = ShowPXMail(s);
  now = shown;
  now.localServer = "ignored.lan";
  SavePXMail(s, shown, now);
  EXPECT_FALSE(s.ValueExists(kUserSection, "Local Server"));
  now.useLocalServer = true;
  now.localServer = " mail.lan ";
  SavePXMail(s, shown, now);
  EXPECT_TRUE(s.UseLocalServer());
  EXPECT_EQ(s.LocalServer(), "mail.lan");
}

}  // namespace
}  // namespace px::desk
