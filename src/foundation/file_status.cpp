#include "foundation/file_status.h"

#include <cerrno>
#include <cstring>

namespace px {

std::string FileErrorText(std::string_view verb, std::string_view path, std::string_view target,
                          int error) {
  if (error == 0) error = EIO;
  std::string text = "Cannot ";
  text += verb;
  text += ' ';
  text += path;
  if (!target.empty()) {
    text += "\rto ";
    text += target;
  }
  text += "\r\rError " + std::to_string(error) + ": " + std::strerror(error);
  return text;
}

FileStatus FileStatus::Failure(std::string_view verb, std::string_view path, int error,
                               std::string_view target) {
  FileStatus st;
  st.error = error ? error : EIO;
  st.verb = verb;
  st.path = path;
  st.target = target;
  st.message = FileErrorText(verb, path, target, st.error);
  return st;
}

}  // namespace px
