// plumadex-cli accounts smtp: sets the outgoing (SMTP) server of an external account.
#include "app/cli_commands.h"

#include <cstdio>
#include <iostream>

#include "foundation/locations.h"
#include "foundation/random.h"
#include "foundation/settings.h"
#include "transport/accounts.h"
#include "transport/smtp/smtp_setting.h"

namespace px::cli {

namespace {

constexpr const char* kSmtpUsage =
    "usage: plumadex-cli accounts smtp NAME --server HOST[:PORT] --user USER [--password-stdin]"
    " [--security tls|starttls|plain] [--from ADDRESS...]\n";

int SmtpUsage() {
  std::fputs(kSmtpUsage, stderr);
  return 2;
}

}  // namespace

int runAccountsSmtp(const Args& args) {
  if (args.empty() || args[0].empty() || args[0].starts_with("--")) return SmtpUsage();
  if (!transport::IsValidAccountName(args[0])) {
    PrintErr("plumadex-cli accounts smtp: \"%s\" cannot be an account name\n", args[0].c_str());
    return 2;
  }
  transport::SmtpServerSetting s;
  s.account = args[0];
  std::string server, security;
  bool hasUser = false, passwordFromStdin = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& o = args[i];
    auto value = [&]() -> const std::string* { return i + 1 < args.size() ? &args[++i] : nullptr; };
    if (o == "--server") {
      const std::string* v = value();
      if (!v) return SmtpUsage();
      server = *v;
    } else if (o == "--user") {
      const std::string* v = value();
      if (!v) return SmtpUsage();
      s.user = *v;
      hasUser = true;
    } else if (o == "--password-stdin") {
      passwordFromStdin = true;
    } else if (o == "--security") {
      const std::string* v = value();
      if (!v) return SmtpUsage();
      security = *v;
    } else if (o == "--from") {
      size_t before = s.fromAddresses.size();
      while (i + 1 < args.size() && !args[i + 1].starts_with("--")) s.fromAddresses.push_back(args[++i]);
      if (s.fromAddresses.size() == before) return SmtpUsage();
    } else {
      PrintErr("plumadex-cli accounts smtp: unknown option \"%s\"\n", o.c_str());
      return SmtpUsage();
    }
  }
  if (server.empty() || !hasUser) return SmtpUsage();
  if (!transport::ParseServerAddress(server, s.host, s.port)) {
    PrintErr("plumadex-cli accounts smtp: \"%s\" is not a server name (HOST or HOST:PORT)\n", server.c_str());
    return 2;
  }
  if (!security.empty()) {
    auto sec = transport::ParseSecurity(security);
    if (!sec) {
      PrintErr("plumadex-cli accounts smtp: security must be tls, starttls or plain\n");
      return 2;
    }
    s.security = *sec;
  } else {
    s.security = s.port == 465 ? transport::SmtpSecurity::Tls : transport::SmtpSecurity::StartTls;
  }
  for (const auto& a : s.fromAddresses) {
    if (a.find('@') == std::string::npos || a.find_first_of(" ,;<>\"") != std::string::npos) {
      PrintErr("plumadex-cli accounts smtp: \"%s\" is not an e-mail address\n", a.c_str());
      return 2;
    }
  }

  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  const auto old = transport::ReadSmtpSetting(settings, s.account);
  if (passwordFromStdin) {
    std::string pw;
    std::getline(std::cin, pw);
    while (!pw.empty() && (pw.back() == '\r' || pw.back() == '\n')) pw.pop_back();
    s.password = pw;
  } else if (old && old->user == s.user && old->host == s.host) {
    s.password = old->password;  // unchanged log-in: the saved password stays
  }
  if (s.password.find('\x01') != std::string::npos) {
    PrintErr("plumadex-cli accounts smtp: the password holds a character that cannot be saved\n");
    return 2;
  }
  RandomSource random;
  transport::WriteSmtpSetting(settings, s, random);
  // Every write above already tried to save; this is the last try, and it tells.
  if (const FileStatus st = settings.UpdateFile(); !st.ok()) {
    PrintErr("plumadex-cli accounts smtp: %s\n", st.message.c_str());
    return 1;
  }
  std::printf("%s\n", transport::DescribeSmtpSetting(s).c_str());
  return 0;
}

}  // namespace px::cli
