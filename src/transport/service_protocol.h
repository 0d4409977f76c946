#pragma once
// The mail service's requests: where they go, how their query values are written, how replies
// are read, and the transfer error codes with their notices.
//
// Every request goes to "https://" + the service host + its path. The host comes from the
// settings (`Use Local Server`/`Local Server`) and may carry a port ("host:port") for
// self-hosted services and tests. Trusted roots: the file PLUMADEX_SERVICE_CA names, else
// plumadex.pem in the program folder.
#include "foundation/message_queue.h"
#include "platform/registry.h"
#include "transport/http_client.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace px {
class Settings;
struct Locations;
}  // namespace px

namespace px::transport {

inline constexpr std::string_view kDefaultServiceHost = "mail.plumadex.net";
inline constexpr std::string_view kServiceDisplayName = "Plumadex server";
using platform::kProgramVersion;
// Coded notices begin with this character: the message window merges repeated ones.
inline constexpr char kCodedNotice = '\x13';

// --- Host, roots, client settings ---
std::string ServiceHost(const Settings& settings);
std::string ServiceCaFile(const Locations& locations);
HttpSettings ServiceHttpSettings(const Locations& locations);
std::string ServiceUrl(std::string_view host, std::string_view pathAndQuery);

// --- Query values ---
// Values typed by the user (names, passwords, subjects): every byte but the unreserved ones
// becomes %XX.
std::string EncodeQueryValue(std::string_view value);
// Values taken from a listing or from mail (stored file names, message ids): the characters
// that could end or add a parameter ("&", "=", "#", "+", "%", "?", blanks, controls, bytes
// above 0x7E) are %XX-encoded; the forms the service gives ("123.pxm", "0123:001") go through
// unchanged.
std::string EncodeListingValue(std::string_view value);

// --- Request paths (append to the service URL) ---
// 1: the upload; the record lengths are added when there is more than one record.
std::string PutMailPath(const std::vector<uint64_t>& recordLengths);
std::string ListingPath();                      // 2
std::string GetFilePath(std::string_view name); // 3
// 4: confirm; the receipt (to, msgid, subject) is added when `to` is not empty.
std::string ConfirmPath(std::string_view name, bool keepOnServer, std::string_view to,
                        std::string_view msgId, std::string_view subject);
std::string AccountTestPath();                  // 5
std::string KeyServerPath();                    // 6
std::string PasswordChangePath(std::string_view user, std::string_view oldPassword,
                               std::string_view newPassword);  // 7
// 8: the password value is a fixed placeholder, never the user's password.
std::string VersionReportPath(std::string_view user, std::string_view version = kProgramVersion);
std::string PublishedVersionUrl(std::string_view host);  // 9, plain http
// 10: the download page, opened in the browser; a downloaded program is never run by us.
std::string DownloadPageUrl(std::string_view host);

// --- Replies ---
// Upper-cased; cut to the <TITLE> text when there is one; trimmed.
std::string StatusText(std::string_view body);
// The upload reply is the stream's size in decimal (surrounding blanks and line breaks allowed).
bool UploadAccepted(std::string_view reply, uint64_t streamSize);
// The published version: the leading run of characters above the blank.
std::string PublishedVersionOf(std::string_view body);
// True when `published` sorts after our version byte by byte (so "3.1" does, "10.0" does not).
bool OffersNewVersion(std::string_view published, std::string_view ours = kProgramVersion);

enum class PasswordChangeReply { Changed, NoSuchUser, WrongOldPassword, Failed, Other };
PasswordChangeReply ReadPasswordChangeReply(std::string_view body);
// The message for a reply (empty for Other) and its kind. A failed request reads as Failed.
std::string PasswordChangeMessage(PasswordChangeReply reply, MessageKind* kind);
inline constexpr std::string_view kPasswordTooShort =
    "Your new password is too short. Password must be from 6 to 20 characters long.";

// --- Transfer error codes ---
enum TransferError : int {
  teNone = 0,
  teConnect = 1,        // the listing could not be fetched, a thread did not start
  teCommunication = 2,  // a failure in the middle of a run (any send failure)
  teAuthorisation = 3,  // HTTP 401: the in-memory password is cleared
  teNoKey = 4,          // encryption recipients without a key
};
// The code of a failed request: 401 gives teAuthorisation (decided by the status, not by a
// text), anything else `otherwise`.
int ErrorCodeOf(const HttpResult& result, int otherwise);
// The notice of codes 1-3 (with the coded-notice mark), "" for 0 and 4.
std::string TransferErrorNotice(int code);
// Code 4: the addresses, each after a carriage return.
std::string NoKeyNotice(const std::vector<std::string>& addresses);

}  // namespace px::transport
