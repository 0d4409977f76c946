#include "mailformat/codecs.h"

namespace px::mailformat {

std::string DecodeEncodedWords(std::string_view value, std::string* charset) { return std::string(value); }

}  // namespace px::mailformat
