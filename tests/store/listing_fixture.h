#pragma once
// Small on-disk folders for the listing tests.
#include "store/folder_listing.h"
#include "store/index_file.h"
#include "support/test_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace px::store::listing_test {

class ListingFixture : public ::testing::Test {
protected:
  void SetUp() override {
    docs = home.path("Documents/F/");
    contacts = home.path("data/Contacts/");
    test::makeDirs(docs);
    test::makeDirs(contacts);
    ctx.registry = &registry;
    ctx.contactsFolder = contacts;
    ctx.dataRoot = home.path("data/");
  }

  // An index file from sections written as "[name]\nkey=value\n..." text (LF is turned into
  // CR LF as the program writes it).
  static void writeIndex(const std::string& folder, const std::string& text) {
    std::string crlf;
    for (char c : text) {
      if (c == '\n') crlf += '\r';
      crlf += c;
    }
    test::writeFile(folder + "Plumadex.ini", crlf);
  }
  static std::string readIndex(const std::string& folder) { return test::readFile(folder + "Plumadex.ini"); }
  static bool indexHas(const std::string& folder, const std::string& section) {
    return readIndex(folder).find("[" + section + "]") != std::string::npos;
  }
  static void touch(const std::string& path, const std::string& content = "x") { test::writeFile(path, content); }

  DocRows list(const std::string& folder, bool background = false) {
    DocRows rows;
    last = FetchDocs(ctx, background, folder, rows);
    return rows;
  }

  static const DocRecord* find(const DocRows& rows, const std::string& name, const std::string& prefix = "") {
    auto it = std::find_if(rows.begin(), rows.end(),
                           [&](const DocRecord& r) { return r.name == name && r.prefix == prefix; });
    return it == rows.end() ? nullptr : &*it;
  }
  static std::vector<std::string> names(const DocRows& rows) {
    std::vector<std::string> out;
    for (const DocRecord& r : rows) out.push_back(r.prefix + r.name);
    std::sort(out.begin(), out.end());
    return out;
  }

  test::TempHome home;
  std::string docs;
  std::string contacts;
  IniRegistry registry;
  ListingContext ctx;
  ListingResult last;
};

}  // namespace px::store::listing_test
