#include "transport/service_protocol.h"

#include "foundation/locations.h"
#include "foundation/settings.h"
#include "foundation/strings.h"

#include <algorithm>
#include <cstdlib>

namespace px::transport {

namespace {

void AppendPercent(std::string& out, unsigned char c) {
  static const char* hex = "0123456789ABCDEF";
  out += '%';
  out += hex[c >> 4];
  out += hex[c & 15];
}

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '!' || c == '~' || c == '*' || c == '\'' || c == '(' || c == ')';
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

std::string ServiceHost(const Settings& settings) {
  if (settings.UseLocalServer()) {
    std::string local = Trim(settings.LocalServer());
    if (!local.empty()) return local;
  }
  return std::string(kDefaultServiceHost);
}

std::string ServiceCaFile(const Locations& locations) {
  const char* env = std::getenv("PLUMADEX_SERVICE_CA");
  if (env && *env) return env;
  return locations.programFolder + "plumadex.pem";
}

HttpSettings ServiceHttpSettings(const Locations& locations) {
  HttpSettings s;
  s.caFile = ServiceCaFile(locations);
  return s;
}

std::string ServiceUrl(std::string_view host, std::string_view pathAndQuery) {
  return "https://" + std::string(host) + std::string(pathAndQuery);
}

std::string EncodeQueryValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() * 3);
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (Unreserved(c)) out += ch;
    else AppendPercent(out, c);
  }
  return out;
}

std::string EncodeListingValue(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    const bool keep = Unreserved(c) || c == ':' || c == '/' || c == '@' || c == '$' || c == ',' ||
                      c == ';';
    if (keep) out += ch;
    else AppendPercent(out, c);
  }
  return out;
}

std::string PutMailPath(const std::vector<uint64_t>& recordLengths) {
  std::string p = "/putmail/data";
  if (recordLengths.size() > 1) {
    p += "/files=";
    for (size_t i = 0; i < recordLengths.size(); ++i) {
      if (i) p += ',';
      p += std::to_string(recordLengths[i]);
    }
  }
  return p;
}

std::string ListingPath() { return "/checkmail/index.ttml"; }

std::string GetFilePath(std::string_view name) {
  return "/checkmail/getfile.ttml?filename=" + EncodeListingValue(name);
}

std::string ConfirmPath(std::string_view name, bool keepOnServer, std::string_view to,
                        std::string_view msgId, std::string_view subject) {
  std::string p = "/checkmail/confirm.ttml?filename=" + EncodeListingValue(name);
  if (keepOnServer) p += "&nodel=1";
  if (!to.empty()) {
    p += "&to=" + EncodeQueryValue(to);
    p += "&msgid=" + EncodeListingValue(msgId);
    p += "&subject=" + EncodeQueryValue(subject);
  }
  return p;
}

std::string AccountTestPath() { return "/checkmail/index.tcl"; }
std::string KeyServerPath() { return "/keys/key_server.ws3"; }

std::string PasswordChangePath(std::string_view user, std::string_view oldPassword,
                               std::string_view newPassword) {
  return "/newuser/pass.phtml?id=" + EncodeQueryValue(user) + "&pass=" + EncodeQueryValue(oldPassword) +
         "&newpass=" + EncodeQueryValue(newPassword);
}

std::string VersionReportPath(std::string_view user, std::string_view version) {
  const size_t dot = version.find('.');
  const std::string major(version.substr(0, dot));
  const std::string minor = dot == std::string_view::npos ? std::string() : std::string(version.substr(dot + 1, 2));
  return "/cgibin/version.tcl?username=" + EncodeQueryValue(user) + "&password=xxxxx&version=" +
         EncodeQueryValue(major) + "&release=" + EncodeQueryValue(minor);
}

std::string PublishedVersionUrl(std::string_view host) {
  return "http://" + std::string(host) + "/CurrentVersion.txt";
}

std::string DownloadPageUrl(std::string_view host) {
  return "https://" + std::string(host) + "/download/";
}

std::string StatusText(std::string_view body) {
  std::string s = Upper(body);
  const size_t open = s.find("<TITLE>");
  if (open != std::string::npos) s.erase(0, open + 7);
  const size_t close = s.find("</TITLE>");
  if (close != std::string::npos) s.erase(close);
  return Trim(s);
}

bool UploadAccepted(std::string_view reply, uint64_t streamSize) {
  return Trim(reply) == std::to_string(streamSize);
}

std::string PublishedVersionOf(std::string_view body) {
  size_t n = 0;
  while (n < body.size() && static_cast<unsigned char>(body[n]) > 0x20) ++n;
  return std::string(body.substr(0, n));
}

bool OffersNewVersion(std::string_view published, std::string_view ours) {
  return !published.empty() && published > ours;
}

PasswordChangeReply ReadPasswordChangeReply(std::string_view body) {
  const std::string s = StatusText(body);
  if (s == "OK - PASSWORD CHANGED") return PasswordChangeReply::Changed;
  if (s == "ERROR - NO SUCH USER") return PasswordChangeReply::NoSuchUser;
  if (s == "ERROR - OLD PASSWORD IS WRONG") return PasswordChangeReply::WrongOldPassword;
  if (s == "ERROR - FAILED") return PasswordChangeReply::Failed;
  return PasswordChangeReply::Other;
}

std::string PasswordChangeMessage(PasswordChangeReply reply, MessageKind* kind) {
  MessageKind k = MessageKind::Warning;
  std::string text;
  switch (reply) {
    case PasswordChangeReply::Changed:
      k = MessageKind::Information;
      text = "Your password has been successfully changed.";
      break;
    case PasswordChangeReply::NoSuchUser:
      text = "Address not found. Please enter correct address or create a new address.";
      break;
    case PasswordChangeReply::WrongOldPassword:
      text = "Wrong Old password. Please enter correct Old password and try again.";
      break;
    case PasswordChangeReply::Failed:
      k = MessageKind::Error;
      text = "Sorry, but your password has not been changed because of a technical problem on "
             "Plumadex server. Please try again later.";
      break;
    case PasswordChangeReply::Other:
      break;
  }
  if (kind) *kind = k;
  return text;
}

int ErrorCodeOf(const HttpResult& result, int otherwise) {
  if (result.Ok()) return teNone;
  if (result.Unauthorized()) return teAuthorisation;
  return otherwise;
}

std::string TransferErrorNotice(int code) {
  std::string text;
  switch (code) {
    case teConnect:
      text = "Cannot connect to Plumadex server. Please make sure you are connected to the Internet and try again.";
      break;
    case teCommunication:
      text = SubstituteArgs("An error occurred during communication with %1. Try connecting again.",
                            {std::string(kServiceDisplayName)});
      break;
    case teAuthorisation:
      text = "Wrong user name or password.";
      break;
    default:
      return {};
  }
  return std::string(1, kCodedNotice) + text;
}

std::string NoKeyNotice(const std::vector<std::string>& addresses) {
  std::string text =
      "The following addresses don't have encryption key available on the server. You cannot send "
      "encrypted messages to them:";
  for (const auto& a : addresses) text += "\r" + a;
  return text;
}

}  // namespace px::transport
