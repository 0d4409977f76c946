#pragma once
// Zip archives made at test time (OpenDocument and Office XML files).
#include <zip.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace px::search {

inline void writeZip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

}  // namespace px::search
