#include "transport/address_setup.h"

#include "foundation/address.h"
#include "foundation/password.h"
#include "foundation/settings.h"
#include "foundation/strings.h"
#include "transport/http_client.h"
#include "transport/service_protocol.h"

#include <algorithm>
#include <cctype>

namespace px::transport {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool Blank(std::string_view s) { return Trim(s).empty(); }

constexpr std::string_view kUserChars = "abcdefghijklmnopqrstuvwxyz0123456789_.";
constexpr std::string_view kAnswerChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 ";

}  // namespace

bool OwnAccountsOnly(const Settings& settings) { return settings.ReadFlag(kUserSection, kOwnAccountsOnlyKey); }

void SetOwnAccountsOnly(Settings& settings, bool on) {
  if (on)
    settings.WriteFlag(kUserSection, kOwnAccountsOnlyKey, true);
  else
    settings.DeleteKey(kUserSection, kOwnAccountsOnlyKey);
}

bool NeedsAddressSetup(const Settings& settings, bool checkVersionMarker) {
  if (OwnAccountsOnly(settings) && settings.ID().empty()) return false;
  return settings.ID().empty() || checkVersionMarker;
}

WelcomeView MakeWelcomeView(const Settings& settings) {
  WelcomeView v;
  v.caption = "Welcome to Plumadex!";
  const std::string id = settings.ID();
  if (!id.empty()) {
    v.prompt = "Plumadex address for \"" + settings.Name() + "\" <" + id + "@" + std::string(kServiceMailDomain) +
               "> is found on this computer.";
    v.choices = {WelcomeChoice::UseThis, WelcomeChoice::SelectAnother, WelcomeChoice::RegisterAndUse};
  } else {
    v.prompt = "You need to set up a Plumadex address.";
    v.choices = {WelcomeChoice::RegisterNew, WelcomeChoice::UseExisting, WelcomeChoice::OwnAccountsOnly};
  }
  return v;
}

std::string WelcomeChoiceText(WelcomeChoice c) {
  switch (c) {
    case WelcomeChoice::RegisterNew: return "Register a new address";
    case WelcomeChoice::UseExisting: return "Use an existing registered address";
    case WelcomeChoice::UseThis: return "Use this address";
    case WelcomeChoice::SelectAnother: return "Select another registered address";
    case WelcomeChoice::RegisterAndUse: return "Register and use a new address";
    case WelcomeChoice::OwnAccountsOnly: return "I only use my own mail accounts";
  }
  return {};
}

RegMode ModeOf(WelcomeChoice c) {
  return (c == WelcomeChoice::RegisterNew || c == WelcomeChoice::RegisterAndUse) ? RegMode::Register : RegMode::Verify;
}

const std::vector<std::string>& RecoveryQuestions() {
  static const std::vector<std::string> q = {
      "Your place of birth?",
      "Your mother's first name?",
      "Your father's first name?",
      "High school or college you graduated from?",
      "Your mother's place of birth?",
      "Your father's place of birth?",
      "Your grandmother's first name?",
      "Your grandfather's first name?",
  };
  return q;
}

std::string RegCaption(RegMode mode) {
  return mode == RegMode::Register ? "New Address Registration" : "Existing User Information";
}

std::string UserLabel(RegMode mode) {
  return mode == RegMode::Register ? "Enter your desired Plumadex username:" : "Enter your existing Plumadex username:";
}

std::string BusyText(RegMode mode) {
  return mode == RegMode::Register ? "Registering new address..." : "Verifying existing address...";
}

std::string LowerUserName(std::string_view typed) { return Lower(typed); }

bool ActionsEnabled(const RegFields& f) {
  return !Blank(f.name) && !Blank(f.user) && !Blank(f.password) && !Blank(f.repeat);
}

namespace {

bool BadServerText(std::string_view s) {
  if (s.empty()) return true;
  for (char c : s)
    if (static_cast<unsigned char>(c) <= ' ' || c == '/' || c == '\\' || c == '@' || c == '?' || c == '#') return true;
  return false;
}

}  // namespace

RegCheck CheckRegFields(RegMode mode, const RegFields& f) {
  RegCheck r;
  const std::string name = Trim(f.name), user = Trim(f.user), password = Trim(f.password),
                    repeat = Trim(f.repeat);
  if (name.empty() || user.empty() || password.empty()) return r;
  auto refuse = [&r](std::string text, RegFocus focus, bool clear = false) {
    r.warning = std::move(text);
    r.focus = focus;
    r.clearPasswords = clear;
    return r;
  };
  if (user.size() < 2 || user.size() > 20) return refuse("Username must be 2 to 20 characters long", RegFocus::User);
  const bool charsOk = std::all_of(user.begin(), user.end(), [](char c) { return kUserChars.find(c) != std::string_view::npos; });
  if (!charsOk || user[0] == '_' || user[0] == '.')
    return refuse("Username must start with a letter or a digit and contain only letters, digits, dots ('.') and "
                  "underscore symbols ('_')",
                  RegFocus::User);
  if (password.size() < 6)
    return refuse("Your new password is too short. Password must be from 6 to 20 characters long", RegFocus::Password,
                  true);
  if (password != repeat)
    return refuse("The two password fields don't match. Please enter exactly the same password in both fields",
                  RegFocus::Password, true);
  if (!Trim(f.server).empty() && BadServerText(Trim(f.server)))
    return refuse("Sorry, but the server must be a host name or \"host:port\", without blanks.", RegFocus::Server);
  if (mode == RegMode::Register) {
    const std::string answer = Trim(f.answer);
    if (f.question < 1 || f.question > static_cast<int>(RecoveryQuestions().size()) || answer.empty())
      return refuse("Please choose password recovery question and answer", RegFocus::Question);
    const bool answerOk =
        std::all_of(answer.begin(), answer.end(), [](char c) { return kAnswerChars.find(c) != std::string_view::npos; });
    if (!answerOk) return refuse("Password recovery answer must contain only letters of Latin alphabet and spaces", RegFocus::Answer);
  }
  r.proceed = true;
  return r;
}

std::string RegisterPath(const RegFields& f) {
  return "/newuser/regit.ws3?id=" + EncodeQueryValue(Trim(f.user)) + "&name=" + EncodeQueryValue(Trim(f.name)) +
         "&pass=" + EncodeQueryValue(Trim(f.password)) + "&question=" + std::to_string(f.question) +
         "&answer=" + EncodeQueryValue(Trim(f.answer));
}

std::string VerifyPath() { return "/checkmail/index.tcl"; }

namespace {

void Store(const RegFields& f, Settings& settings, RandomSource& random) {
  settings.SetName(Trim(f.name));
  settings.SetID(Lower(Trim(f.user)));
  settings.SetPassword(ScramblePassword(Trim(f.password), random));
  SetOwnAccountsOnly(settings, false);
  if (!Trim(f.server).empty()) StoreServer(settings, Trim(f.server));
}


RegResult Failure(const HttpResult& res) {
  RegResult r;
  r.kind = MessageKind::Error;
  if (res.Unauthorized() || Lower(res.error).find("401") != std::string::npos) {
    r.outcome = RegOutcome::WrongPassword;
    r.message = "Wrong user name or password.";
  } else {
    r.outcome = RegOutcome::NoConnection;
    r.message = "Cannot connect to Plumadex server. Please make sure you are connected to the Internet and try again.";
  }
  return r;
}

}  // namespace

RegResult RunRegistration(HttpClient& client, std::string_view host, RegMode mode, const RegFields& f,
                          Settings& settings, RandomSource& random) {
  RegResult r;
  if (mode == RegMode::Register) {
    client.ClearBasicAuth();
    const HttpResult res = client.Get(ServiceUrl(host, RegisterPath(f)));
    client.ClearBasicAuth();
    if (!res.Ok()) return Failure(res);
    const std::string status = StatusText(res.body);
    if (status == "PLUMADEX REGISTRATION - OK") {
      r.outcome = RegOutcome::Registered;
      r.kind = MessageKind::Information;
      r.message = "Your new Plumadex address " + Lower(Trim(f.user)) + "@" + std::string(kServiceMailDomain) +
                  " is registered.";
      Store(f, settings, random);
      settings.WriteString(kUserSection, "New Install", "1");
      r.stored = true;
    } else if (status == "PLUMADEX REGISTRATION - FAILED") {
      r.outcome = RegOutcome::CannotCreate;
      r.kind = MessageKind::Error;
      r.message = "Sorry, but this username cannot be created. Please try another username.";
    } else if (status == "PLUMADEX REGISTRATION - ALREADY USED") {
      r.outcome = RegOutcome::AlreadyUsed;
      r.kind = MessageKind::Warning;
      r.message = "Sorry, but this username is already taken. Please try another username.";
    }
    return r;
  }
  client.SetBasicAuth(Lower(Trim(f.user)), Trim(f.password));
  const HttpResult res = client.Get(ServiceUrl(host, VerifyPath()));
  client.ClearBasicAuth();
  if (!res.Ok()) return Failure(res);
  r.outcome = RegOutcome::Verified;
  Store(f, settings, random);
  r.stored = true;
  return r;
}

std::string RegHost(const RegFields& f, const Settings& settings) {
  const std::string server = Trim(f.server);
  return server.empty() ? ServiceHost(settings) : server;
}

void StoreServer(Settings& settings, std::string_view server) {
  const std::string s = Trim(server);
  if (s.empty() || Lower(s) == std::string(kDefaultServiceHost)) {
    settings.SetUseLocalServer(false);
    return;
  }
  settings.SetUseLocalServer(true);
  settings.SetLocalServer(s);
}

std::string ForgottenPasswordUrl(std::string_view host) { return "https://" + std::string(host) + "/loginq.ws3"; }

}  // namespace px::transport
