#pragma once
// What the message window is told about a document it opens: the option word, the header lines
// shown above a message, its other parts, its charset and recipients, all read from the folder
// index entry of the document.
#include "compose/compose_model.h"

#include <string>

namespace px::store {
class IniRegistry;
}

namespace px::compose {

// The entry of `prefix` + `name` in `folder`'s index. Values are converted from the entry's
// charset to UTF-8 once, here. `dateText` formats a `Time` value for the Date line.
OpenRequest OpenRequestForEntry(store::IniRegistry& registry, const std::string& folder, const std::string& name,
                                const std::string& prefix = {},
                                const std::function<std::string(DateTime)>& dateText = {});

// A new message in `folder` (no document yet); `to` may hold a mailto URL.
OpenRequest NewMessageRequest(const std::string& folder, const std::string& to, bool html);

}  // namespace px::compose
