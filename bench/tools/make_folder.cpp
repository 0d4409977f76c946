// make_folder: builds a large document folder for the listing benchmark, the same for a given
// seed on every machine.
//
//   make_folder HOME [N] [--seed S]
//
// HOME becomes a PLUMADEX_HOME: HOME/Documents/Archive/ gets N documents (default 100000) with
// an index entry each: received and outgoing mail in bundles (a message and its attachments
// sharing one message id base), plain documents with colours and stickers, a few sections of
// files that are gone, some "$$$LNK." links to HOME/Documents/Linked/ and some "$$$AB."
// references to the contacts of HOME/data/Contacts/.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// SplitMix64: tiny, and the same sequence everywhere (std distributions are not).
class Rng {
public:
  explicit Rng(uint64_t seed) : s_(seed) {}
  uint64_t Next() {
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t Below(uint64_t n) { return n ? Next() % n : 0; }
  bool Chance(int percent) { return Below(100) < static_cast<uint64_t>(percent); }
  template <typename T, size_t K>
  const T& Pick(const T (&a)[K]) { return a[Below(K)]; }

private:
  uint64_t s_;
};

const char* kFirst[] = {"Anna", "Ben", "Clara", "David", "Eva", "Frank", "Greta", "Hugo", "Ines",
                        "Jonas", "Karin", "Lukas", "Marta", "Nils", "Olga", "Paul", "Rosa", "Sven",
                        "Tanja", "Ulf", "Vera", "Walter", "Zoe", "José", "Søren", "Zoë"};
const char* kLast[] = {"Adler", "Bauer", "Corvin", "Dietz", "Ebner", "Fuchs", "Graf", "Haas",
                       "Imhof", "Jung", "Keller", "Lang", "Maier", "Neumann", "Otto", "Pohl",
                       "Roth", "Schulz", "Thiel", "Ullrich", "Vogt", "Weber", "Ziegler", "Åström"};
const char* kDomains[] = {"example.com", "mail.example.org", "plumadex.net", "uni.example.edu",
                          "firma.example.de"};
const char* kWords[] = {"Meeting", "report", "invoice", "holiday", "photos", "draft", "agenda",
                        "quarterly", "budget", "project", "update", "question", "lunch", "notes",
                        "contract", "review", "Re:", "Fwd:", "urgent", "minutes", "plan", "travel"};
const char* kAttachExt[] = {"pdf", "doc", "jpg", "png", "xls", "zip", "rtf", "gif"};
const char* kDocExt[] = {"doc", "txt", "pdf", "xls", "rtf", "jpg", "html", "odt"};

std::string Person(Rng& r, std::string* bare = nullptr) {
  std::string first = r.Pick(kFirst), last = r.Pick(kLast);
  std::string dom = r.Pick(kDomains);
  std::string user = first + "." + last + std::to_string(r.Below(50));
  for (char& c : user)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::string addr = dom == "plumadex.net" ? user : user + "@" + dom;
  if (bare) *bare = addr;
  return "\"" + first + " " + last + "\" <" + addr + ">";
}

std::string Subject(Rng& r) {
  std::string s;
  int n = 2 + static_cast<int>(r.Below(6));
  for (int i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += r.Pick(kWords);
  }
  return s;
}

std::string ShortDate(Rng& r) {
  char b[32];
  std::snprintf(b, sizeof b, "%02d/%02d/%02d %02d:%02d:%02d", 1 + int(r.Below(12)), 1 + int(r.Below(28)),
                int(r.Below(25)), int(r.Below(24)), int(r.Below(60)), int(r.Below(60)));
  return b;
}

std::string Sticker(Rng& r) {
  std::string s = "Call back~" + Subject(r) + "~remember ;~ the tilde";
  if (r.Chance(30)) s = "CHARSET:utf-8~~" + s;
  return s;
}

struct Section {
  std::string name;
  std::vector<std::string> lines;
};

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "make_folder: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

bool WriteIndex(const std::string& folder, const std::vector<Section>& sections) {
  std::string text;
  for (const Section& s : sections) {
    text += "[" + s.name + "]\r\n";
    for (const std::string& l : s.lines) text += l + "\r\n";
    text += "\r\n";
  }
  return WriteFile(folder + "Plumadex.ini", text);
}

void MakeDir(const std::string& p) {
  if (::mkdir(p.c_str(), 0755) != 0 && errno != EEXIST)
    std::fprintf(stderr, "make_folder: cannot create %s: %s\n", p.c_str(), std::strerror(errno));
}

std::string Content(Rng& r) {
  std::string c(static_cast<size_t>(r.Below(400)), 'x');
  for (char& ch : c) ch = static_cast<char>('a' + r.Below(26));
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  long n = 100000;
  uint64_t seed = 20261210;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--seed" && i + 1 < argc) {
      seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (!a.empty() && a[0] == '-') {
      home.clear();  // an unknown option (such as --help) is never taken for the home folder
      break;
    } else if (home.empty()) {
      home = a;
    } else {
      n = std::strtol(a.c_str(), nullptr, 10);
    }
  }
  if (home.empty() || n <= 0) {
    std::fprintf(stderr, "usage: make_folder HOME [N] [--seed S]\n");
    return 2;
  }
  if (home.back() != '/') home += '/';
  Rng r(seed);

  MakeDir(home);
  MakeDir(home + "data");
  MakeDir(home + "data/Contacts");
  MakeDir(home + "Documents");
  const std::string archive = home + "Documents/Archive/";
  const std::string linked = home + "Documents/Linked/";
  const std::string contacts = home + "data/Contacts/";
  MakeDir(archive);
  MakeDir(linked);

  // Contacts.
  const int kContacts = 500;
  std::vector<std::string> contactFiles;
  {
    std::vector<Section> sects;
    for (int i = 0; i < kContacts; ++i) {
      std::string bare;
      std::string p = Person(r, &bare);
      std::string file = "contact" + std::to_string(i) + ".vcf";
      contactFiles.push_back(file);
      if (!WriteFile(contacts + file, "BEGIN:VCARD\r\nVERSION:2.1\r\nEMAIL:" + bare + "\r\nEND:VCARD\r\n")) return 1;
      Section s{file, {"Title=" + p.substr(1, p.find('"', 1) - 1), "Address=" + bare, "Time=1234567890"}};
      if (r.Chance(20)) s.lines.push_back("Addresses=other" + std::to_string(i) + "@example.com");
      if (r.Chance(10)) s.lines.push_back("Flags=64");
      sects.push_back(std::move(s));
    }
    if (!WriteIndex(contacts, sects)) return 1;
  }

  // Link targets.
  const int kLinked = 1000;
  std::vector<std::string> linkedFiles;
  {
    std::vector<Section> sects;
    for (int i = 0; i < kLinked; ++i) {
      std::string file = "target" + std::to_string(i) + "." + r.Pick(kDocExt);
      if (!WriteFile(linked + file, Content(r))) return 1;
      linkedFiles.push_back(file);
      sects.push_back({file, {"Title=" + Subject(r), "Flags=" + std::to_string(2 * r.Below(9))}});
    }
    if (!WriteIndex(linked, sects)) return 1;
  }

  // The archive.
  std::vector<Section> sects;
  sects.reserve(static_cast<size_t>(n) + n / 50);
  long made = 0;
  long msg = 0;
  while (made < n) {
    int kind = static_cast<int>(r.Below(100));
    if (kind < 70) {
      // A message and its attachments.
      const bool outgoing = kind >= 55;
      const int parts = 1 + (r.Chance(35) ? 1 + static_cast<int>(r.Below(4)) : 0);
      const std::string base = "2026" + std::to_string(100000000000ll + msg++) + std::to_string(r.Below(1000000000));
      const std::string subject = Subject(r);
      const std::string time = ShortDate(r);
      const std::string addr = outgoing && r.Chance(20) ? Person(r) + ", " + Person(r) : Person(r);
      const bool unread = !outgoing && r.Chance(15);
      for (int p = 1; p <= parts && made < n; ++p, ++made) {
        char id[16];
        std::snprintf(id, sizeof id, ":%03d/%03d", p, parts);
        std::string file = p == 1 ? "msg" + std::to_string(made) + (r.Chance(30) ? ".eml" : ".txt")
                                  : "att" + std::to_string(made) + "." + r.Pick(kAttachExt);
        if (!WriteFile(archive + file, Content(r))) return 1;
        Section s{file, {}};
        s.lines.push_back("Title=" + (p == 1 ? subject : file));
        int flags = outgoing ? 0x2001 : 0x1001;
        if (unread) flags |= 0x0200;
        if (r.Chance(10)) flags |= 2 * static_cast<int>(1 + r.Below(8));
        s.lines.push_back("Flags=" + std::to_string(flags));
        s.lines.push_back("Address=" + addr);
        if (outgoing) {
          s.lines.push_back("From=me@example.com");
          if (r.Chance(10)) s.lines.push_back("Cc=" + Person(r));
          if (r.Chance(50)) s.lines.push_back("Delivered=" + time + " " + addr.substr(0, addr.find(',')));
        } else {
          s.lines.push_back("To=me@example.com");
          s.lines.push_back("Sent=Tue, 3 Feb 2004 14:05 +0100");
          s.lines.push_back("Recv=20040203");
          if (r.Chance(20)) s.lines.push_back("Charset=utf-8");
        }
        s.lines.push_back("Time=" + time);
        s.lines.push_back("MsgID=" + base + id);
        if (r.Chance(5)) s.lines.push_back("Sticker=" + Sticker(r));
        sects.push_back(std::move(s));
      }
    } else {
      // A plain document.
      std::string file = "doc" + std::to_string(made) + "." + r.Pick(kDocExt);
      if (!WriteFile(archive + file, Content(r))) return 1;
      Section s{file, {"Title=" + Subject(r)}};
      if (r.Chance(30)) s.lines.push_back("Flags=" + std::to_string(2 * (1 + r.Below(8))));
      if (r.Chance(10)) s.lines.push_back("Sticker=" + Sticker(r));
      sects.push_back(std::move(s));
      ++made;
    }
  }
  // Sections of files deleted by other programs (they stay), links and contact references.
  for (long i = 0; i < n / 200; ++i)
    sects.push_back({"deleted" + std::to_string(i) + ".doc", {"Title=" + Subject(r), "Flags=4"}});
  for (long i = 0; i < n / 100; ++i)
    sects.push_back({"$$$LNK.link" + std::to_string(i),
                     {"Path=" + linked, "ID=" + linkedFiles[r.Below(linkedFiles.size())]}});
  for (long i = 0; i < n / 200; ++i) {
    Section s{"$$$AB." + contactFiles[static_cast<size_t>(i) % contactFiles.size()], {}};
    if (r.Chance(50)) s.lines.push_back("Flags=" + std::to_string(2 * (1 + r.Below(8))));
    if (s.lines.empty() || r.Chance(30)) s.lines.push_back("Sticker=" + Sticker(r));
    sects.push_back(std::move(s));
  }
  return WriteIndex(archive, sects) ? 0 : 1;
}
