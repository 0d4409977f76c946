#pragma once
// The index entry of a stored message part: its key names and the flag words the filer, the
// compose window and the send thread give it.
#include <string_view>

#include "mailformat/part_descriptor.h"

namespace px::mailformat {

// Keys a message part's index entry may carry.
inline constexpr std::string_view kKeyTitle = "Title";
inline constexpr std::string_view kKeyFlags = "Flags";
inline constexpr std::string_view kKeyAddress = "Address";
inline constexpr std::string_view kKeyTo = "To";
inline constexpr std::string_view kKeyFrom = "From";
inline constexpr std::string_view kKeyCc = "Cc";
inline constexpr std::string_view kKeyBcc = "Bcc";
inline constexpr std::string_view kKeyExcludeTo = "ExcludeTo";
inline constexpr std::string_view kKeySent = "Sent";
inline constexpr std::string_view kKeyTime = "Time";
inline constexpr std::string_view kKeyRecv = "Recv";
inline constexpr std::string_view kKeyCharset = "Charset";
inline constexpr std::string_view kKeyMsgID = "MsgID";
inline constexpr std::string_view kKeyAccount = "Account";
inline constexpr std::string_view kKeySticker = "Sticker";
inline constexpr std::string_view kKeyOriginal = "Original";
inline constexpr std::string_view kKeyReplied = "Replied";
inline constexpr std::string_view kKeyForwarded = "Forwarded";
inline constexpr std::string_view kKeyDelivered = "Delivered";

// The flag word of a filed part: received 0x1201 (0x1200 for a contact card), received and
// read 0x1001, outgoing 0x2001, draft 0x6400; 0x0040 added when the content was encrypted.
int FiledFlags(const DescriptorTags& tags, std::string_view kind);
// A message made by the compose window: 0x2400, + 0x0040 to be encrypted, + 0x4000 as a draft.
int ComposedFlags(bool encrypt, bool draft);
// After the send thread delivered it: 0x0400 cleared and 0x0001 set (only cleared for a card).
int DeliveredFlags(int flags, std::string_view kind);

}  // namespace px::mailformat
