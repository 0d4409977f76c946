#include "platform/registry.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace px::platform;

TEST(Registry, IniBackedValuesUnderPlumadexHome) {
  px::test::TempHome home;
  const std::string path = RegistryFilePath();
  EXPECT_EQ(path, home.path("config/Kavenstow/Plumadex.ini"));
  {
    IniRegistryStore reg(path);
    EXPECT_FALSE(reg.ReadString(kProgramKey, kVersionValue).has_value());
    EXPECT_EQ(UpdateProgramVersion(reg), "3.01");  // missing reads as the current version
    EXPECT_TRUE(reg.WriteString(kProgramKey, kCheckVersionValue, ""));
  }
  IniRegistryStore reg(path);
  // Key paths and value names ignore case, as in the registry.
  EXPECT_EQ(reg.ReadString("software\\kavenstow\\PLUMADEX", "version").value_or("?"), "3.01");
  EXPECT_TRUE(reg.ValueExists(kProgramKey, kCheckVersionValue));  // present though empty
  EXPECT_TRUE(reg.DeleteValue(kProgramKey, kCheckVersionValue));
  EXPECT_FALSE(IniRegistryStore(path).ValueExists(kProgramKey, kCheckVersionValue));
  EXPECT_NE(px::test::readFile(path).find("[Software\\Kavenstow\\Plumadex]"), std::string::npos);
}

TEST(Registry, PreviousVersionIsRememberedAndOverwritten) {
  MemoryRegistry reg;
  reg.WriteString(kProgramKey, kVersionValue, "2.50");
  EXPECT_EQ(UpdateProgramVersion(reg), "2.50");
  EXPECT_EQ(reg.ReadString(kProgramKey, kVersionValue).value_or(""), "3.01");
  reg.WriteString(kProgramKey, kVersionValue, "");
  EXPECT_EQ(UpdateProgramVersion(reg), "3.01");
  EXPECT_TRUE(reg.KeyExists("SOFTWARE\\Kavenstow\\Plumadex"));
  reg.DeleteKey(kProgramKey);
  EXPECT_FALSE(reg.KeyExists(kProgramKey));
}
