#include "transport/service_listing.h"

#include <pugixml.hpp>

#include <cstdlib>

#include "foundation/dates.h"
#include "mailformat/mail_date.h"

namespace px::transport {

namespace {

// pugixml hands back ISO-8859-1 text as UTF-8; the listing's own bytes are wanted.
std::string Bytes(const char* utf8) {
  std::string out;
  for (const char* p = utf8; *p; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if ((c == 0xC2 || c == 0xC3) && p[1]) {
      out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(p[1]) & 0x3F));
      ++p;
    } else {
      out += (c == '\r' || c == '\n') ? ' ' : static_cast<char>(c);
    }
  }
  return out;
}

std::string Attr(const pugi::xml_node& m, const char* element, const char* attr) {
  return Bytes(m.child(element).attribute(attr).value());
}

}  // namespace

int ListedMessage::PartNumber() const {
  if (currpart.empty()) return 0;
  char* end = nullptr;
  long v = std::strtol(currpart.c_str(), &end, 10);
  return (end && *end == '\0' && v > 0 && v < 100000) ? static_cast<int>(v) : 0;
}

std::string ListedMessage::ReceiptId() const { return PartNumber() < 2 ? messageId : std::string(); }

ListingStatus ParseServiceListing(std::string_view xml, std::vector<ListedMessage>& out,
                                  std::string* error) {
  out.clear();
  if (xml.size() > kMaxListingBytes) {
    if (error) *error = "the listing is too large";
    return ListingStatus::Bad;
  }
  // Blank (or only a declaration): the service has nothing to list.
  size_t first = xml.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return ListingStatus::Empty;
  pugi::xml_document doc;
  // Read as ISO-8859-1 whatever it says; a listing without a declaration is read the same way.
  pugi::xml_parse_result r = doc.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_latin1);
  if (!r) {
    if (error) *error = std::string("the listing does not parse: ") + r.description();
    return ListingStatus::Bad;
  }
  pugi::xml_node root = doc.document_element();
  if (!root) return ListingStatus::Empty;
  for (pugi::xml_node m = root.first_child(); m; m = m.next_sibling()) {
    if (m.type() != pugi::node_element) continue;
    if (out.size() >= kMaxListedMessages) break;  // the rest comes next time
    ListedMessage l;
    l.from = Attr(m, "From", "addr");
    l.fileName = Attr(m, "file", "name");
    const std::string size = Attr(m, "file", "size");
    char* end = nullptr;
    long long v = size.empty() ? -1 : std::strtoll(size.c_str(), &end, 10);
    l.size = (!size.empty() && end && *end == '\0' && v >= 0) ? v : -1;
    l.ext = Attr(m, "Fileinfo", "ext");
    l.charset = Attr(m, "Fileinfo", "charset");
    l.subject = Bytes(m.child("Subject").text().get());
    l.currpart = Attr(m, "msgid", "currpart");
    l.messageId = Attr(m, "msgid", "messageid");
    l.to = Attr(m, "To", "addr");
    l.received = Attr(m, "Date", "received");
    out.push_back(std::move(l));
  }
  return ListingStatus::Ok;
}

TMailPreviewItem PreviewItemOf(const ListedMessage& m, std::string_view account) {
  TMailPreviewItem p;
  p.account = std::string(account);
  p.fileName = m.fileName;
  p.sender = m.from;
  p.recipients = m.to;
  p.subject = m.subject;
  p.charset = m.charset;
  p.date = mailformat::UtcToLocal(ParseShortDate(m.received));
  p.size = m.size;
  p.extension = m.ext;
  p.messageId = m.ReceiptId();
  if (!m.currpart.empty()) {
    std::string cur = m.currpart;
    while (cur.size() < 3) cur.insert(cur.begin(), '0');
    p.partKey = m.messageId + cur;
  }
  return p;
}

}  // namespace px::transport
