#pragma once
// The subcommands of plumadex-cli. Each lives in its own cli_<name>.cpp and returns the
// process exit status; args holds the arguments after the subcommand's name.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace px::cli {

using Args = std::vector<std::string>;

// Text for the terminal: the message window's "\r" line breaks (and "\r\n") become new lines,
// any other control character (a hostile file name may hold one) shows as "?", so nothing
// printed moves the cursor back over what came before.
inline std::string ForConsole(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7f) {
      out += '?';
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// fprintf to stderr through ForConsole.
[[gnu::format(printf, 1, 2)]] inline void PrintErr(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  const std::string clean = ForConsole(text);
  std::fwrite(clean.data(), 1, clean.size(), stderr);
}

int RunList(const Args& args);
int runSplit(const Args& args);
int runExtract(const Args& args);
int runCopy(const Args& args);
int runMove(const Args& args);
int runTrash(const Args& args);
int runDelete(const Args& args);
int runRename(const Args& args);
int RunStore(const Args& args);
int runAccounts(const Args& args);
int runKeys(const Args& args);
int runReceive(const Args& args);
int runService(const Args& args);
int runOutbox(const Args& args);
int runSend(const Args& args);
int runFile(const Args& args);
int runRefileQuarantine(const Args& args);
int runRules(const Args& args);
int runPreview(const Args& args);

// Files what waits in the mail spool, printing a line per message filed; the exit status.
int FileWaitingMail(bool quiet);
int runWhere(const Args& args);
int runSearch(const Args& args);
int runIndex(const Args& args);
int runImportContacts(const Args& args);
int runImport(const Args& args);
// "accounts smtp NAME ...": args start with NAME.
int runAccountsSmtp(const Args& args);

}  // namespace px::cli
