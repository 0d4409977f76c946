#pragma once
// Setting up the user's service address: the welcome window's choices, the checks of the
// address window's fields, and the register and verify requests with what they store.
//
// A user who only reads and sends through their own mail accounts says so once; the choice is
// kept in User.ini (`Own Accounts Only`) and the start-up then never asks for a service address.
#include "foundation/message_queue.h"

#include <string>
#include <string_view>
#include <vector>

namespace px {
class Settings;
class RandomSource;
}  // namespace px

namespace px::transport {

class HttpClient;

inline constexpr std::string_view kOwnAccountsOnlyKey = "Own Accounts Only";  // section User, "1"

bool OwnAccountsOnly(const Settings& settings);
void SetOwnAccountsOnly(Settings& settings, bool on);
// Whether the start-up shows the welcome window.
bool NeedsAddressSetup(const Settings& settings, bool checkVersionMarker);

// --- Welcome window ---
enum class WelcomeChoice { RegisterNew, UseExisting, UseThis, SelectAnother, RegisterAndUse, OwnAccountsOnly };

struct WelcomeView {
  std::string caption;
  std::string prompt;
  std::vector<WelcomeChoice> choices;  // the buttons shown, in order
};

WelcomeView MakeWelcomeView(const Settings& settings);
std::string WelcomeChoiceText(WelcomeChoice c);

// --- Address window ---
enum class RegMode { Register, Verify };
// RegisterNew and RegisterAndUse register; UseExisting and SelectAnother verify.
RegMode ModeOf(WelcomeChoice c);

struct RegFields {
  std::string name;
  std::string user;
  std::string password;
  std::string repeat;
  int question = 0;  // 1..8, 0 when none is chosen
  std::string answer;
  // The server of the mail service ("host" or "host:port"); "" or the standard host: the
  // standard one. Kept as the local server once the address is stored.
  std::string server;
};

enum class RegFocus { None, Name, User, Password, Question, Answer, Server };

struct RegCheck {
  bool proceed = false;
  std::string warning;          // empty when nothing is to be shown
  RegFocus focus = RegFocus::None;
  bool clearPasswords = false;  // both password boxes are emptied
};

inline constexpr int kNameLimit = 50;
inline constexpr int kUserLimit = 50;
inline constexpr int kPasswordLimit = 20;

const std::vector<std::string>& RecoveryQuestions();
std::string RegCaption(RegMode mode);
std::string UserLabel(RegMode mode);
std::string BusyText(RegMode mode);

// Every letter typed into the user-name box arrives in lower case.
std::string LowerUserName(std::string_view typed);
// Both action buttons are enabled exactly when these four boxes are non-blank.
bool ActionsEnabled(const RegFields& f);
// The checks of the action button, in their order.
RegCheck CheckRegFields(RegMode mode, const RegFields& f);

// The host the request of the fields goes to: their server, else the one the settings name.
std::string RegHost(const RegFields& f, const Settings& settings);
// Keeps the server of the fields in the settings: the standard host (or none) turns the local
// server off; any other is the local server from now on.
void StoreServer(Settings& settings, std::string_view server);

std::string RegisterPath(const RegFields& f);
std::string VerifyPath();

enum class RegOutcome { Registered, Verified, CannotCreate, AlreadyUsed, Other, WrongPassword, NoConnection };

struct RegResult {
  RegOutcome outcome = RegOutcome::Other;
  bool stored = false;        // the settings were written and the window closes
  std::string message;        // empty when nothing is to be shown
  MessageKind kind = MessageKind::Information;
};

// Sends the request of the mode and stores Name, ID and the scrambled password on success
// (and `New Install` after a registration). Nothing is written on any failure. The client is
// left without Basic authentication.
RegResult RunRegistration(HttpClient& client, std::string_view host, RegMode mode, const RegFields& f,
                          Settings& settings, RandomSource& random);

// The forgotten-password page, over https.
std::string ForgottenPasswordUrl(std::string_view host);

}  // namespace px::transport
