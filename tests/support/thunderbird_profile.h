#pragma once
// A Thunderbird profile made at test time: profiles.ini, prefs.js with two accounts (and one
// whose address is hostile), local mail folders in mbox form with .msf summaries and a .sbd
// subfolder (a read message, an unread one with an attachment, a draft), and an abook.sqlite
// with three people and a list. Header-only: the import tests and the journeys share it.
#include <sqlite3.h>

#include <string>

#include "support/test_support.h"

namespace px::test {

struct ThunderbirdProfile {
  std::string home;     // the home folder (ends in "/")
  std::string profile;  // the profile folder (ends in "/")
  int messages = 4;
  int people = 3;
};

inline void MakeAbook(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  const char* sql =
      "CREATE TABLE properties (card TEXT, name TEXT, value TEXT);"
      "CREATE TABLE lists (uid TEXT PRIMARY KEY, name TEXT, nickName TEXT, description TEXT);"
      "CREATE TABLE list_cards (list TEXT, card TEXT, PRIMARY KEY(list, card));"
      "INSERT INTO properties VALUES ('c1','FirstName','Gina'),('c1','LastName','Lopez'),"
      "('c1','DisplayName','Gina Lopez'),('c1','PrimaryEmail','gina@example.org'),('c1','CellularNumber','+1 555 0100');"
      "INSERT INTO properties VALUES ('c2','_vCard','BEGIN:VCARD\nVERSION:4.0\nFN:Hugo Brandt\nN:Brandt;Hugo;;;\n"
      "EMAIL;PREF=1:hugo@example.org\nEND:VCARD'),('c2','PrimaryEmail','hugo@example.org');"
      "INSERT INTO properties VALUES ('c3','DisplayName','Ivy Chen'),('c3','PrimaryEmail','ivy@example.org'),"
      "('c3','Company','Chen & Co; Ltd');"
      "INSERT INTO lists VALUES ('l1','Book Club','',''),('l2','../../Outside','','');"
      "INSERT INTO list_cards VALUES ('l1','c1'),('l1','c3'),('l2','c2');";
  sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

inline ThunderbirdProfile MakeThunderbirdProfile(const std::string& home) {
  ThunderbirdProfile p;
  p.home = home;
  const std::string tb = home + ".thunderbird/";
  p.profile = tb + "x1y2z3.default-release/";
  makeDirs(p.profile + "Mail/Local Folders/Inbox.sbd");
  makeDirs(p.profile + "ImapMail");
  writeFile(tb + "profiles.ini",
            "[Install4F96D1932A9F858E]\nDefault=x1y2z3.default-release\nLocked=1\n\n"
            "[Profile1]\nName=old\nIsRelative=1\nPath=old.default\n\n"
            "[Profile0]\nName=default-release\nIsRelative=1\nPath=x1y2z3.default-release\nDefault=1\n\n"
            "[General]\nStartWithLastProfile=1\nVersion=2\n");
  writeFile(p.profile + "prefs.js",
            "// Mozilla User Preferences\n"
            "user_pref(\"mail.accountmanager.accounts\", \"account1,account2,account3,account4\");\n"
            "user_pref(\"mail.account.account1.server\", \"server1\");\n"
            "user_pref(\"mail.account.account1.identities\", \"id1\");\n"
            "user_pref(\"mail.server.server1.type\", \"pop3\");\n"
            "user_pref(\"mail.server.server1.hostname\", \"pop.example.org\");\n"
            "user_pref(\"mail.server.server1.userName\", \"fred\");\n"
            "user_pref(\"mail.identity.id1.useremail\", \"fred@example.org\");\n"
            "user_pref(\"mail.account.account2.server\", \"server2\");\n"
            "user_pref(\"mail.server.server2.type\", \"none\");\n"
            "user_pref(\"mail.server.server2.hostname\", \"Local Folders\");\n"
            "user_pref(\"mail.account.account3.server\", \"server3\");\n"
            "user_pref(\"mail.account.account3.identities\", \"id3\");\n"
            "user_pref(\"mail.server.server3.type\", \"imap\");\n"
            "user_pref(\"mail.server.server3.hostname\", \"imap.example.net\");\n"
            "user_pref(\"mail.server.server3.userName\", \"fred\");\n"
            "user_pref(\"mail.identity.id3.useremail\", \"x]=y@example.net\");\n"
            "user_pref(\"mail.account.account4.server\", \"server4\");\n"
            "user_pref(\"mail.account.account4.identities\", \"id4\");\n"
            "user_pref(\"mail.server.server4.type\", \"pop3\");\n"
            "user_pref(\"mail.server.server4.hostname\", \"pop.example.com\");\n"
            "user_pref(\"mail.server.server4.userName\", \"f\");\n"
            "user_pref(\"mail.identity.id4.useremail\", \"evil@example.com\\n[Settings]\");\n");
  const std::string local = p.profile + "Mail/Local Folders/";
  writeFile(local + "Inbox",
            "From - Tue Mar  4 10:00:00 2025\n"
            "X-Mozilla-Status: 0001\n"
            "X-Mozilla-Status2: 00000000\n"
            "From: Ann Arbor <ann@example.org>\n"
            "To: fred@example.org\n"
            "Subject: Harvest festival\n"
            "Date: Tue, 4 Mar 2025 10:00:00 +0000\n"
            "Message-ID: <harvest@example.org>\n"
            "\n"
            "The festival starts at noon.\n"
            ">From the hill you can see it.\n"
            "\n"
            "From - Wed Mar  5 09:30:00 2025\n"
            "X-Mozilla-Status: 0000\n"
            "From: Bob Baker <bob@example.org>\n"
            "To: fred@example.org\n"
            "Subject: Oven plans\n"
            "Date: Wed, 5 Mar 2025 09:30:00 +0000\n"
            "Message-ID: <oven@example.org>\n"
            "MIME-Version: 1.0\n"
            "Content-Type: multipart/mixed; boundary=\"b1\"\n"
            "\n"
            "--b1\n"
            "Content-Type: text/plain; charset=us-ascii\n"
            "\n"
            "Plans attached.\n"
            "--b1\n"
            "Content-Type: text/plain; name=\"oven-plans.txt\"\n"
            "Content-Disposition: attachment; filename=\"oven-plans.txt\"\n"
            "Content-Transfer-Encoding: base64\n"
            "\n"
            "QnJpY2tzOiAyMDAK\n"
            "--b1--\n");
  writeFile(local + "Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n");
  writeFile(local + "Inbox.sbd/Projects",
            "From - Thu Mar  6 08:00:00 2025\r\n"
            "X-Mozilla-Status: 0001\r\n"
            "From: Carol <carol@example.org>\r\n"
            "Subject: Roof repair\r\n"
            "Message-ID: <roof@example.org>\r\n"
            "\r\n"
            "Tiles ordered.\r\n");
  writeFile(local + "Inbox.sbd/Projects.msf", "");
  writeFile(local + "Trash", "");
  writeFile(local + "Unsent Messages", "");
  writeFile(local + "Drafts",
            "From - Fri Mar  7 08:00:00 2025\n"
            "X-Mozilla-Status: 0000\n"
            "From: Fred <fred@example.org>\n"
            "Subject: Draft reply\n"
            "Message-ID: <draft@example.org>\n"
            "\n"
            "Not finished.\n");
  MakeAbook(p.profile + "abook.sqlite");
  return p;
}

}  // namespace px::test
