// plumadex-cli service set: the service account in User.ini.
#include "app/cli_commands.h"

#include "foundation/locations.h"
#include "foundation/password.h"
#include "foundation/random.h"
#include "foundation/settings.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace px::cli {

int runService(const Args& args) {
  const char* usage = "usage: service set --user ID [--server HOST[:PORT]] [--password-stdin]";
  if (args.empty() || args[0] != "set") {
    PrintErr("plumadex-cli: %s\n", usage);
    return 2;
  }
  std::string user, server;
  bool passwordStdin = false, serverGiven = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--user" && i + 1 < args.size()) user = args[++i];
    else if (a == "--server" && i + 1 < args.size()) {
      server = args[++i];
      serverGiven = true;
    } else if (a == "--password-stdin") passwordStdin = true;
    else {
      PrintErr("plumadex-cli: %s\n", usage);
      return 2;
    }
  }
  if (user.empty()) {
    PrintErr("plumadex-cli: %s\n", usage);
    return 2;
  }
  Locations loc = ComputeLocations();
  MakeDataFolders(loc);
  Settings settings(loc.UserIni());
  settings.SetID(user);
  if (passwordStdin) {
    std::string password;
    std::getline(std::cin, password);
    while (!password.empty() && (password.back() == '\r' || password.back() == '\n')) password.pop_back();
    if (password.find('\x01') != std::string::npos) {
      PrintErr("plumadex-cli: the password holds a character that cannot be stored\n");
      return 2;
    }
    RandomSource random;
    settings.SetPassword(password.empty() ? std::string() : ScramblePassword(password, random));
    std::fill(password.begin(), password.end(), '\0');
  }
  settings.SetUseLocalServer(serverGiven && !server.empty());
  if (serverGiven) settings.SetLocalServer(server);
  const FileStatus st = settings.UpdateFile();
  if (!st.ok() || !settings.LastError().ok()) {
    PrintErr("plumadex-cli: %s\n", (st.ok() ? settings.LastError() : st).message.c_str());
    return 1;
  }
  return 0;
}

}  // namespace px::cli
