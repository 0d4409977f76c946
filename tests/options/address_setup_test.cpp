#include "transport/address_setup.h"

#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/http_client.h"

#include <gtest/gtest.h>

namespace px::transport {
namespace {

TEST(AddressSetup, OwnAccountsChoiceStopsTheQuestion) {
  Settings s;
  EXPECT_TRUE(NeedsAddressSetup(s, false));
  SetOwnAccountsOnly(s, true);
  EXPECT_TRUE(OwnAccountsOnly(s));
  EXPECT_FALSE(NeedsAddressSetup(s, false));
  EXPECT_FALSE(NeedsAddressSetup(s, true));  // an upgrade marker does not ask either
  SetOwnAccountsOnly(s, false);
  EXPECT_FALSE(OwnAccountsOnly(s));
  EXPECT_TRUE(NeedsAddressSetup(s, false));
  s.SetID("jo");
  EXPECT_FALSE(NeedsAddressSetup(s, false));
  EXPECT_TRUE(NeedsAddressSetup(s, true));
}

TEST(AddressSetup, WelcomeButtonsFollowTheStoredAddress) {
  Settings s;
  WelcomeView v = MakeWelcomeView(s);
  EXPECT_EQ(v.caption, "Welcome to Plumadex!");
  EXPECT_EQ(v.prompt, "You need to set up a Plumadex address.");
  EXPECT_EQ(v.choices, (std::vector<WelcomeChoice>{WelcomeChoice::RegisterNew, WelcomeChoice::UseExisting,
                                                   WelcomeChoice::OwnAccountsOnly}));
  EXPECT_EQ(WelcomeChoiceText(WelcomeChoice::OwnAccountsOnly), "I only use my own mail accounts");
  s.SetName("Jo Smith");
  s.SetID("jo");
  v = MakeWelcomeView(s);
  EXPECT_EQ(v.prompt, "Plumadex address for \"Jo Smith\" <jo@plumadex.net> is found on this computer.");
  EXPECT_EQ(v.choices, (std::vector<WelcomeChoice>{WelcomeChoice::UseThis, WelcomeChoice::SelectAnother,
                                                   WelcomeChoice::RegisterAndUse}));
  EXPECT_EQ(ModeOf(WelcomeChoice::RegisterAndUse), RegMode::Register);
  EXPECT_EQ(ModeOf(WelcomeChoice::SelectAnother), RegMode::Verify);
}

TEST(AddressSetup, ActionsNeedFourNonBlankBoxes) {
  RegFields f{"Jo", "jo", "secret1", "secret1", 0, ""};
  EXPECT_TRUE(ActionsEnabled(f));
  f.repeat = "  ";
  EXPECT_FALSE(ActionsEnabled(f));
  EXPECT_EQ(LowerUserName("Jo.Smith"), "jo.smith");
}

struct FieldCase {
  const char* what;
  RegMode mode;
  RegFields fields;
  bool proceed;
  RegFocus focus;
  bool clear;
  const char* warningStart;
};

class FieldChecks : public ::testing::TestWithParam<FieldCase> {};

TEST_P(FieldChecks, RefusalsInOrder) {
  const FieldCase& c = GetParam();
  const RegCheck r = CheckRegFields(c.mode, c.fields);
  EXPECT_EQ(r.proceed, c.proceed) << c.what;
  EXPECT_EQ(r.focus, c.focus) << c.what;
  EXPECT_EQ(r.clearPasswords, c.clear) << c.what;
  EXPECT_EQ(r.warning.rfind(c.warningStart, 0), 0u) << c.what << ": " << r.warning;
}

const RegMode R = RegMode::Register, V = RegMode::Verify;
INSTANTIATE_TEST_SUITE_P(
    AddressSetup, FieldChecks,
    ::testing::Values(
        FieldCase{"ok verify", V, {"Jo", "jo.smith", "secret1", "secret1", 0, ""}, true, RegFocus::None, false, ""},
        FieldCase{"ok register", R, {"Jo", "jo_1", "secret1", "secret1", 3, "Paris 75"}, true, RegFocus::None, false, ""},
        FieldCase{"empty name does nothing", V, {"", "jo", "secret1", "secret1", 0, ""}, false, RegFocus::None, false, ""},
        FieldCase{"one letter", V, {"Jo", "j", "secret1", "secret1", 0, ""}, false, RegFocus::User, false, "Username must be 2 to 20"},
        FieldCase{"21 letters", V, {"Jo", "abcdefghijabcdefghijk", "secret1", "secret1", 0, ""}, false, RegFocus::User, false, "Username must be 2 to 20"},
        FieldCase{"leading underscore", V, {"Jo", "_jo", "secret1", "secret1", 0, ""}, false, RegFocus::User, false, "Username must start"},
        FieldCase{"leading dot", V, {"Jo", ".jo", "secret1", "secret1", 0, ""}, false, RegFocus::User, false, "Username must start"},
        FieldCase{"bad character", V, {"Jo", "jo-smith", "secret1", "secret1", 0, ""}, false, RegFocus::User, false, "Username must start"},
        FieldCase{"short password", V, {"Jo", "jo", "abcde", "abcde", 0, ""}, false, RegFocus::Password, true, "Your new password is too short"},
        FieldCase{"case differs", V, {"Jo", "jo", "Secret1", "secret1", 0, ""}, false, RegFocus::Password, true, "The two password fields"},
        FieldCase{"no question", R, {"Jo", "jo", "secret1", "secret1", 0, "x"}, false, RegFocus::Question, false, "Please choose password recovery"},
        FieldCase{"no answer", R, {"Jo", "jo", "secret1", "secret1", 2, " "}, false, RegFocus::Question, false, "Please choose password recovery"},
        FieldCase{"accented answer", R, {"Jo", "jo", "secret1", "secret1", 2, "Z\xC3\xBCrich"}, false, RegFocus::Answer, false, "Password recovery answer must"},
        FieldCase{"verify ignores the question", V, {"Jo", "jo", "secret1", "secret1", 0, "\xC3\xBC"}, true, RegFocus::None, false, ""}));

TEST(AddressSetup, RegisterRequestCarriesEncodedValues) {
  RegFields f{" Jo Smith ", "jo", "pa&ss w", "pa&ss w", 4, "Old School"};
  EXPECT_EQ(RegisterPath(f), "/newuser/regit.ws3?id=jo&name=Jo%20Smith&pass=pa%26ss%20w&question=4&answer=Old%20School");
  EXPECT_EQ(ForgottenPasswordUrl("mail.plumadex.net"), "https://mail.plumadex.net/loginq.ws3");
}

TEST(AddressSetup, FailedRequestWritesNothing) {
  Settings s;
  RandomSource random(1);
  HttpSettings hs;
  hs.connectTimeoutSec = 5;
  HttpClient client(hs);
  RegFields f{"Jo", "jo", "secret1", "secret1", 1, "Paris"};
  for (RegMode mode : {RegMode::Register, RegMode::Verify}) {
    const RegResult r = RunRegistration(client, "127.0.0.1:1", mode, f, s, random);
    EXPECT_FALSE(r.stored);
    EXPECT_EQ(r.outcome, RegOutcome::NoConnection);
    EXPECT_EQ(r.kind, MessageKind::Error);
    EXPECT_TRUE(s.ID().empty());
    EXPECT_TRUE(s.Name().empty());
    EXPECT_TRUE(s.Password().empty());
    EXPECT_FALSE(s.NewInstall());
  }
}

}  // namespace
}  // namespace px::transport
