#pragma once
// The outcome of a file-system step: reading or saving a file, copying, moving or deleting a
// document or a folder. A failure carries the errno, what was being done, the path and, for a
// copy or a move, the target, and the text the user is shown for it. Success is the default.
// A status cannot be dropped unseen: a caller reports it or discards it with (void), saying why.
#include <string>
#include <string_view>

namespace px {

struct [[nodiscard]] FileStatus {
  int error = 0;        // errno of the failure, 0 when it succeeded
  std::string message;  // what the user is shown, empty when it succeeded
  std::string verb;     // "write", "read", "copy", "move", "delete", "rename", "create", "empty"
  std::string path;
  std::string target;  // where a copy or a move was going, else empty

  bool ok() const { return error == 0 && message.empty(); }
  explicit operator bool() const { return !ok(); }  // true when it FAILED
  static FileStatus Ok() { return {}; }
  // A failed step with the usual text (see FileErrorText); errno 0 counts as EIO.
  static FileStatus Failure(std::string_view verb, std::string_view path, int error,
                            std::string_view target = {});
};

// "Cannot <verb> <path>" ["\rto <target>"] "\r\rError <errno>: <system text>"; errno 0 counts
// as EIO, so a failure never reads as "Success".
std::string FileErrorText(std::string_view verb, std::string_view path, std::string_view target,
                          int error);

}  // namespace px
