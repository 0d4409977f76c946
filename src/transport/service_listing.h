#pragma once
// The mail service's listing of stored messages (the reply of the listing request): an XML
// document whose document element has one child per message. It comes from the network: it is
// read as ISO-8859-1 whatever it declares, capped in size and count, and nothing in it is used
// as a local file name.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/types.h"
#include "transport/preview_item.h"

namespace px::transport {

inline constexpr size_t kMaxListingBytes = 64u << 20;
inline constexpr size_t kMaxListedMessages = 200000;

struct ListedMessage {
  std::string from;       // From addr
  std::string fileName;   // file name: the stored file, for getfile and confirm
  int64_t size = 0;       // file size (-1 when it is not a number)
  std::string ext;        // Fileinfo ext ("$$$r": a delivery receipt)
  std::string charset;    // Fileinfo charset
  std::string subject;    // Subject text
  std::string currpart;   // msgid currpart
  std::string messageId;  // msgid messageid
  std::string to;         // To addr
  std::string received;   // Date received: UTC, "mm/dd/yy hh:nn:ss"

  bool IsReceipt() const { return ext == "$$$r"; }
  // The part number (0 when empty or not a number).
  int PartNumber() const;
  // The message id a receipt answers: messageid when the part is below 2, else "".
  std::string ReceiptId() const;
};

enum class ListingStatus { Ok, Empty, Bad };

// Parses a listing. Empty: no document element (nothing to do); Bad: it does not parse or is
// too large (error says why). Values are the listing's bytes (ISO-8859-1 characters given back
// as the bytes they were); CR, LF and NUL inside values become blanks.
ListingStatus ParseServiceListing(std::string_view xml, std::vector<ListedMessage>& out,
                                  std::string* error = nullptr);

// The preview row of a listed service message.
TMailPreviewItem PreviewItemOf(const ListedMessage& m, std::string_view account);

}  // namespace px::transport
