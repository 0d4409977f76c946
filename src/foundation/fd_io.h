#pragma once
// Writing to a file descriptor without losing bytes to short writes or signals.
#include <string_view>

namespace px {

// Writes all of bytes to fd, retrying short writes and EINTR. On failure errno tells why.
bool WriteAllToFd(int fd, std::string_view bytes);

}  // namespace px
