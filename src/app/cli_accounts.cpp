// plumadex-cli accounts: lists, adds, removes and checks the external mail accounts of User.ini.
#include "app/cli_commands.h"

#include <QProcess>

#include <cstdio>
#include <iostream>

#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/oauth2.h"
#include "transport/smtp/smtp_setting.h"
#include "transport/pop3/account_check.h"

namespace px::cli {

namespace {

constexpr const char* kUsage =
    "usage: plumadex-cli accounts list\n"
    "       plumadex-cli accounts add NAME --server HOST[:PORT] --user USER [--password-stdin] [--keep]"
    " [--security tls|starttls|plain]\n"
    "                            [--imap [--folder NAME]...]\n"
    "                            [--oauth2 google|microsoft|yahoo|custom --client-id ID\n"
    "                             [--authorize URL --token URL --scope SCOPE]]\n"
    "       plumadex-cli accounts signin NAME   (OAuth2: opens the provider's page in the browser)\n"
    "       plumadex-cli accounts remove NAME\n"
    "       plumadex-cli accounts test NAME [--timeout SECONDS]\n"
    "       plumadex-cli accounts smtp NAME --server HOST[:PORT] --user USER [--password-stdin]"
    " [--security tls|starttls|plain] [--from ADDRESS...]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

bool ReadPasswordLine(std::string& password) {
  if (!std::getline(std::cin, password) && password.empty()) return false;
  while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
  return true;
}

bool CheckSaved(const Settings& settings) {
  if (settings.LastError().ok()) return true;
  PrintErr("plumadex-cli accounts: %s\n", settings.LastError().message.c_str());
  return false;
}

int List(const Settings& settings) {
  for (const auto& a : transport::ReadAccounts(settings))
    std::printf("%s\n", transport::DescribeAccount(a).c_str());
  for (const auto& s : transport::ReadSmtpSettings(settings))
    std::printf("%s\n", transport::DescribeSmtpSetting(s).c_str());
  return 0;
}

int Add(Settings& settings, const Args& args) {
  if (args.size() < 2) return Usage();
  transport::ExternalAccount a;
  a.name = args[1];
  a.enabled = true;
  bool passwordFromStdin = false;
  std::vector<std::string> folders;
  std::optional<transport::oauth2::Provider> provider;
  std::vector<std::pair<std::string, std::string>> oauthFields;
  for (size_t i = 2; i < args.size(); ++i) {
    const std::string& o = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (o == "--server") {
      const std::string* v = value();
      if (!v) return Usage();
      if (!transport::pop3::ParseServerAddress(*v)) {
        PrintErr("plumadex-cli accounts: \"%s\" is not a server name (HOST or HOST:PORT)\n", v->c_str());
        return 2;
      }
      a.server = *v;
    } else if (o == "--user") {
      const std::string* v = value();
      if (!v) return Usage();
      a.user = *v;
    } else if (o == "--password-stdin") {
      passwordFromStdin = true;
    } else if (o == "--keep") {
      a.keep = true;
    } else if (o == "--oauth2" || o == "--client-id" || o == "--authorize" || o == "--token" || o == "--scope") {
      const std::string* v = value();
      if (!v || v->empty() || (o != "--scope" && v->find_first_of(" \t\r\n") != std::string::npos)) return Usage();
      if (o == "--oauth2") {
        provider = transport::oauth2::PresetNamed(*v).value_or(transport::oauth2::Provider{*v, "", "", "", ""});
        if (*v != "custom" && !transport::oauth2::PresetNamed(*v)) {
          PrintErr("plumadex-cli accounts: --oauth2 takes google, microsoft, yahoo or custom\n");
          return 2;
        }
      }
      else oauthFields.emplace_back(o, *v);
    } else if (o == "--imap") {
      a.SetImap(true);
    } else if (o == "--folder") {
      const std::string* v = value();
      if (!v || v->empty() || v->find_first_of("\r\n") != std::string::npos) return Usage();
      folders.push_back(*v);
    } else if (o == "--security") {
      const std::string* v = value();
      auto s = v ? transport::pop3::ParseSecurity(*v) : std::nullopt;
      if (!s || *s == transport::pop3::Security::Auto) {
        PrintErr("plumadex-cli accounts: --security takes tls, starttls or plain\n");
        return 2;
      }
      a.security = *s;
    } else {
      PrintErr("plumadex-cli accounts: unknown option \"%s\"\n", o.c_str());
      return Usage();
    }
  }
  if (a.server.empty() || a.user.empty()) return Usage();
  if (!folders.empty()) {
    if (!a.IsImap()) {
      PrintErr("plumadex-cli accounts: --folder is for IMAP accounts (--imap)\n");
      return 2;
    }
    a.SetImapFolders(folders);
  }
  if (a.user.find_first_of(" \t\r\n") != std::string::npos || a.server.find_first_of(" \t") != std::string::npos) {
    PrintErr("plumadex-cli accounts: the server and the user name cannot hold blanks\n");
    return 2;
  }
  if (!oauthFields.empty() && !provider) return Usage();
  if (provider) {
    for (const auto& [k, v] : oauthFields) {
      if (k == "--client-id") provider->clientId = v;
      else if (k == "--authorize") provider->authorizeUrl = v;
      else if (k == "--token") provider->tokenUrl = v;
      else provider->scope = v;
    }
    if (provider->clientId.empty() || provider->authorizeUrl.empty() || provider->tokenUrl.empty()) {
      PrintErr("plumadex-cli accounts: OAuth2 needs --client-id (and for custom, --authorize and --token)\n");
      return 2;
    }
    transport::oauth2::SetProvider(a, provider);
    if (passwordFromStdin) {
      PrintErr("plumadex-cli accounts: an OAuth2 account has no password: sign in with \"accounts signin\"\n");
      return 2;
    }
  }
  if (!transport::IsValidAccountName(a.name)) {
    PrintErr("plumadex-cli accounts: \"%s\" cannot name an account\n", a.name.c_str());
    return 2;
  }
  if (transport::ReadAccount(settings, a.name)) {
    PrintErr("plumadex-cli accounts: an account named \"%s\" exists already\n", a.name.c_str());
    return 1;
  }
  if (passwordFromStdin && !ReadPasswordLine(a.password)) {
    PrintErr("plumadex-cli accounts: no password on standard input\n");
    return 2;
  }
  RandomSource random;
  transport::WriteAccount(settings, a, random);
  if (!CheckSaved(settings)) return 1;
  if (a.security == transport::pop3::Security::Plain)
    PrintErr("plumadex-cli accounts: %s uses plain text: its password and mail travel unencrypted\n",
                 a.name.c_str());
  return 0;
}

int SignIn(Settings& settings, const Args& args) {
  if (args.size() != 2) return Usage();
  auto a = transport::ReadAccount(settings, args[1]);
  if (!a) {
    PrintErr("plumadex-cli accounts: no account named \"%s\"\n", args[1].c_str());
    return 1;
  }
  auto provider = transport::oauth2::ProviderOf(*a);
  if (!provider) {
    PrintErr("plumadex-cli accounts: %s signs in with a password, not OAuth2\n", a->name.c_str());
    return 1;
  }
  std::string error;
  auto tokens = transport::oauth2::SignIn(
      *provider, transport::oauth2::ProviderHttpSettings(), a->user,
      [](const std::string& url) {
        std::printf("Sign in on this page (it opens in your browser):\n%s\n", url.c_str());
        std::fflush(stdout);
        return QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)}) || true;
      },
      10 * 60 * 1000, &error);
  if (!tokens) {
    PrintErr("plumadex-cli accounts: %s\n", error.c_str());
    return 1;
  }
  if (tokens->refreshToken.empty()) {
    PrintErr("plumadex-cli accounts: the provider gave no refresh token: the sign-in cannot be kept\n");
    return 1;
  }
  a->password = tokens->refreshToken;
  RandomSource random;
  transport::WriteAccount(settings, *a, random);
  if (!CheckSaved(settings)) return 1;
  std::printf("%s is signed in.\n", a->name.c_str());
  return 0;
}

int Remove(Settings& settings, const Args& args) {
  if (args.size() != 2) return Usage();
  if (!transport::DeleteAccount(settings, args[1])) {
    PrintErr("plumadex-cli accounts: no account named \"%s\"\n", args[1].c_str());
    return 1;
  }
  transport::DeleteSmtpSetting(settings, args[1]);  // its outgoing server goes with it
  return CheckSaved(settings) ? 0 : 1;
}

int Test(const Settings& settings, const Args& args) {
  if (args.size() < 2) return Usage();
  int timeoutMs = 180000;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--timeout" && i + 1 < args.size()) {
      timeoutMs = std::max(1, std::atoi(args[++i].c_str())) * 1000;
    } else {
      return Usage();
    }
  }
  auto a = transport::ReadAccount(settings, args[1]);
  if (!a) {
    PrintErr("plumadex-cli accounts: no account named \"%s\"\n", args[1].c_str());
    return 1;
  }
  if (a->password.empty()) {
    PrintErr("plumadex-cli accounts: %s has no saved password\n", a->name.c_str());
    return 1;
  }
  auto r = transport::pop3::CheckAccount(*a, timeoutMs);
  std::printf("%s\n", r.message.c_str());
  if (!r.detail.empty()) std::fprintf(r.works ? stdout : stderr, "%s\n", r.detail.c_str());
  return r.works ? 0 : 1;
}

}  // namespace

int runAccounts(const Args& args) {
  if (args.empty()) return Usage();
  if (args[0] == "smtp") return runAccountsSmtp(Args(args.begin() + 1, args.end()));
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  const std::string& sub = args[0];
  if (sub == "list" && args.size() == 1) return List(settings);
  if (sub == "add") return Add(settings, args);
  if (sub == "remove") return Remove(settings, args);
  if (sub == "test") return Test(settings, args);
  if (sub == "signin") return SignIn(settings, args);
  return Usage();
}

}  // namespace px::cli
