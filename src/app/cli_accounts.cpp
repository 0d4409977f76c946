// plumadex-cli accounts: lists, adds, removes and checks the external mail accounts of User.ini.
#include "app/cli_commands.h"

#include <cstdio>
#include <iostream>

#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"
#include "transport/pop3/account_check.h"

namespace px::cli {

namespace {

constexpr const char* kUsage =
    "usage: plumadex-cli accounts list\n"
    "       plumadex-cli accounts add NAME --server HOST[:PORT] --user USER [--password-stdin] [--keep]"
    " [--security tls|starttls|plain]\n"
    "                            [--imap [--folder NAME]...]\n"
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
  return Usage();
}

}  // namespace px::cli
