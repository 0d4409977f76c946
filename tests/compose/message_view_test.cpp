// Preparing a received HTML message for the viewer: its "cid:" pictures come from the message's
// own parts, copied beside the page.
#include "compose/message_view.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <QUrl>

namespace px::compose {
namespace {

TEST(MessagePage, CidPicturesComeFromTheMessagesOwnParts) {
  px::test::TempHome home;
  const std::string folder = home.path("Mail/"), temp = home.path("tmp/");
  px::test::makeDirs(folder);
  px::test::makeDirs(temp);
  px::test::writeFile(folder + "Pictures.htm",
                      "<html><body><img src=\"cid:pic1@x.org\"><img src=\"CID:%3Cpic1@x.org%3E\">"
                      "<img src=\"cid:unknown@x.org\"><img src=\"cid:other@x.org\"></body></html>");
  px::test::writeFile(folder + "dot.png", "PNG bytes");
  px::test::writeFile(folder + "other.gif", "GIF bytes");
  RandomSource random;
  const MessagePage page = PrepareMessagePage(folder + "Pictures.htm", temp, random,
                                              {{"pic1@x.org", folder + "dot.png"}, {"Other@X.org", folder + "other.gif"}});
  ASSERT_TRUE(page.ok);
  ASSERT_FALSE(page.resourceFolder.empty());
  EXPECT_TRUE(page.resourceFolder.starts_with(temp));
  // Both spellings of the one picture share one copy; an unknown id stays as it was.
  const std::string copy = QUrl::fromLocalFile(QString::fromStdString(page.resourceFolder + "part1.png")).toString().toStdString();
  size_t first = page.html.find(copy);
  ASSERT_NE(first, std::string::npos) << page.html;
  EXPECT_NE(page.html.find(copy, first + 1), std::string::npos) << page.html;
  EXPECT_NE(page.html.find("cid:unknown@x.org"), std::string::npos) << page.html;
  EXPECT_NE(page.html.find("part2.gif"), std::string::npos) << page.html;
  EXPECT_EQ(px::test::readFile(page.resourceFolder + "part1.png"), "PNG bytes");
  // Without parts nothing is copied.
  const MessagePage plain = PrepareMessagePage(folder + "Pictures.htm", temp, random);
  ASSERT_TRUE(plain.ok);
  EXPECT_TRUE(plain.resourceFolder.empty());
}

TEST(MessagePage, TheEditorSeesCidPicturesAsTheirPartsFiles) {
  const std::string html = "<p><img src=\"cid:pic1@x.org\"><img src=\"cid:gone@x.org\"></p>";
  const std::string out = ResolvePartPictures(html, {{"pic1@x.org", "/docs/Mail/dot (2).png"}});
  EXPECT_NE(out.find("file:///docs/Mail/dot (2).png"), std::string::npos) << out;
  EXPECT_NE(out.find("cid:gone@x.org"), std::string::npos) << out;
  EXPECT_EQ(ResolvePartPictures(html, {}), html);
}

}  // namespace
}  // namespace px::compose
