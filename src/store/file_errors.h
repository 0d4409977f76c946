#pragma once
// How a failed file-system call reaches the user: "Cannot <verb> <path>" [ "\rto <target>" ]
// "\r\rError <errno>: <system text>", queued as an error.
#include "foundation/file_status.h"

#include <string>
#include <string_view>

namespace px {
class MessageQueue;
}

namespace px::store {

inline constexpr std::string_view kAbsentFileText =
    "Sorry, but this file is absent on disk. Perhaps somebody deleted or moved it without using "
    "Plumadex.";

using px::FileErrorText;
// Queues the error (when a queue is given) and returns its text.
std::string ReportFileError(MessageQueue* messages, std::string_view verb, std::string_view path,
                            std::string_view target, int error);

}  // namespace px::store
