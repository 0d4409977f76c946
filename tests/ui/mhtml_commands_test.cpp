// Editing commands of the HTML editor, seen through the HTML the editor saves.
#include <gtest/gtest.h>

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "mailformat/ui/html_edit_commands.h"

using namespace px::mailformat;

namespace {

// Selects the first occurrence of `word`.
void Select(QTextEdit& edit, const QString& word) {
  QTextCursor c = edit.document()->find(word);
  ASSERT_FALSE(c.isNull()) << word.toStdString();
  edit.setTextCursor(c);
}

}  // namespace

TEST(MhtmlCommands, CharacterFormatsToggleOnTheSelection) {
  QTextEdit edit;
  edit.setHtml("<p>plain words here</p>");
  HtmlEditCommands cmd(&edit);
  Select(edit, "words");
  cmd.Bold();
  cmd.Italic();
  cmd.SetTextColour(QColor("#ff0000"));
  cmd.SetFontSize(18);
  EXPECT_TRUE(cmd.IsBold());
  EXPECT_TRUE(cmd.IsItalic());
  EXPECT_FALSE(cmd.IsUnderline());
  EXPECT_EQ(cmd.FontSize(), 18);
  QString html = edit.toHtml();
  EXPECT_TRUE(html.contains("font-weight:700")) << html.toStdString();
  EXPECT_TRUE(html.contains("color:#ff0000"));
  cmd.Bold();
  EXPECT_FALSE(cmd.IsBold());

  edit.setReadOnly(true);
  cmd.Underline();
  EXPECT_FALSE(cmd.IsUnderline());
}

TEST(MhtmlCommands, ParagraphFormatsAlignmentAndIndent) {
  QTextEdit edit;
  edit.setHtml("<p>title</p><p>body</p>");
  HtmlEditCommands cmd(&edit);
  Select(edit, "title");
  EXPECT_EQ(cmd.ParagraphFormat(), "Normal");
  cmd.SetParagraphFormat("Heading 2");
  EXPECT_EQ(cmd.ParagraphFormat(), "Heading 2");
  EXPECT_TRUE(edit.toHtml().contains("<h2")) << edit.toHtml().toStdString();
  cmd.SetParagraphFormat("Bulleted List");
  EXPECT_EQ(cmd.ParagraphFormat(), "Bulleted List");
  cmd.SetParagraphFormat("Normal");
  EXPECT_EQ(cmd.ParagraphFormat(), "Normal");
  EXPECT_FALSE(edit.toHtml().contains("<ul"));

  Select(edit, "body");
  EXPECT_EQ(cmd.Alignment(), HtmlEditCommands::Align::Left);
  cmd.SetAlignment(HtmlEditCommands::Align::Centre);
  EXPECT_EQ(cmd.Alignment(), HtmlEditCommands::Align::Centre);
  cmd.Indent();
  cmd.Indent();
  EXPECT_EQ(edit.textCursor().blockFormat().leftMargin(), 80);
  cmd.Outdent();
  cmd.Outdent();
  cmd.Outdent();
  EXPECT_EQ(edit.textCursor().blockFormat().leftMargin(), 0);
}

TEST(MhtmlCommands, LinksAndPageColour) {
  QTextEdit edit;
  edit.setHtml("<p>see the site</p>");
  HtmlEditCommands cmd(&edit);
  Select(edit, "site");
  cmd.SetHyperlink("http://example.com/");
  EXPECT_TRUE(edit.toHtml().contains("href=\"http://example.com/\""));
  Select(edit, "site");
  cmd.RemoveHyperlink();
  EXPECT_FALSE(edit.toHtml().contains("href="));

  EXPECT_FALSE(cmd.BodyColour().isValid());
  cmd.SetBodyColour(QColor("#ffffcc"));
  EXPECT_EQ(cmd.BodyColour(), QColor("#ffffcc"));
  EXPECT_TRUE(edit.toHtml().contains("#ffffcc")) << edit.toHtml().toStdString();
  EXPECT_FALSE(cmd.InsertImage("/no/such/picture.png"));
}
