#pragma once
// Pseudo-header lines that mail sources put into raw message files ("_Folder: ", "_Outbound: *",
// "_Draft: *", "X-Plumadex-Account: ", "$$$Plumadex$$$"). They steer filing, so they count only
// when the source that wrote the file is trusted; in mail from the network they are neutralised.
#include <optional>
#include <string>
#include <string_view>

namespace px::mailformat {

inline constexpr std::string_view kFolderHeader = "_Folder";
inline constexpr std::string_view kOutboundHeader = "_Outbound";
inline constexpr std::string_view kDraftHeader = "_Draft";
// An imported message that was not yet read: it is filed unread (other imported mail is read).
inline constexpr std::string_view kUnreadHeader = "_Unread";
inline constexpr std::string_view kAccountHeader = "X-Plumadex-Account";
inline constexpr std::string_view kProgramHeader = "$$$Plumadex$$$";
// Prefix put before a pseudo-header that is not honoured, so no later reader takes it for one.
inline constexpr std::string_view kNeutralisedPrefix = "X-Neutralised-";

enum class SourceTrust {
  Network,   // mail as received: no pseudo-header counts
  Receiver,  // from the program's own POP3 receiver: only the account line it appended counts
  Trusted,   // written by the program itself or by an import: all pseudo-headers count
};

// The folder value made safe: split on "/" and "\", empty and blank pieces dropped, joined with
// "\" (the stored form). nullopt when the value would lead outside the data root: a "." or ".."
// piece, an absolute path, a drive letter, a control character, or more than 64 levels.
// An empty value (the data root itself) is kept.
std::optional<std::string> SafeFolderValue(std::string_view value);

// The lines an import writes at the start of a raw message file ("_Folder: " + folder CR LF,
// then "_Outbound: *" CR LF and "_Draft: *" CR LF when set).
std::string ImportPseudoHeaders(std::string_view folder, bool outbound, bool draft);

// Inserts "X-Plumadex-Account: " + account as the last header line of a raw message (before
// the first empty line; at the end when there is none). Line ends of the message are kept.
std::string InsertAccountHeader(std::string_view message, std::string_view account);
// The same line alone, with CR LF.
std::string AccountHeaderLine(std::string_view account);

// A header line naming a pseudo-header (name followed by optional blanks and ":"; the program
// mark in any form). Case as the reader compares: any case.
bool IsPseudoHeaderLine(std::string_view line);

}  // namespace px::mailformat
