#include "crypto/pgp_bridge.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStringList>

#include <gpgme.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace px::crypto {

namespace {

// The longest path of a Unix socket, less the agent's longest socket name ("/S.gpg-agent.browser").
constexpr size_t kMaxSocketFolder = 107 - 20;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

PgpStatus StatusOf(gpgme_error_t err) {
  PgpStatus s;
  if (gpgme_err_code(err) == GPG_ERR_NO_ERROR) return s;
  s.code = static_cast<int>(gpgme_err_code(err));
  s.text = gpgme_strerror(err);
  return s;
}

PgpStatus Failure(std::string text) {
  PgpStatus s;
  s.code = GPG_ERR_GENERAL;
  s.text = std::move(text);
  return s;
}

gpgme_error_t EmptyPassphrase(void*, const char*, const char*, int, int fd) {
  return gpgme_io_writen(fd, "\n", 1) == 0 ? 0 : gpgme_error_from_syserror();
}

struct Ctx {
  gpgme_ctx_t c = nullptr;
  ~Ctx() {
    if (c) gpgme_release(c);
  }
};

struct Data {
  gpgme_data_t d = nullptr;
  ~Data() {
    if (d) gpgme_data_release(d);
  }
  std::string Take() {
    size_t n = 0;
    char* mem = gpgme_data_release_and_get_mem(d, &n);
    d = nullptr;
    std::string out(mem ? mem : "", mem ? n : 0);
    if (mem) gpgme_free(mem);
    return out;
  }
};

struct Key {
  gpgme_key_t k = nullptr;
  ~Key() {
    if (k) gpgme_key_unref(k);
  }
};

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

gpgme_error_t MakeCtx(const std::string& home, Ctx& ctx, bool armour) {
  gpgme_error_t err = gpgme_new(&ctx.c);
  if (err) return err;
  if ((err = gpgme_set_protocol(ctx.c, GPGME_PROTOCOL_OpenPGP))) return err;
  if ((err = gpgme_ctx_set_engine_info(ctx.c, GPGME_PROTOCOL_OpenPGP, nullptr, home.c_str()))) return err;
  if ((err = gpgme_set_pinentry_mode(ctx.c, GPGME_PINENTRY_MODE_LOOPBACK))) return err;
  gpgme_set_passphrase_cb(ctx.c, EmptyPassphrase, nullptr);
  gpgme_set_armor(ctx.c, armour ? 1 : 0);
  gpgme_set_offline(ctx.c, 1);
  return gpgme_set_keylist_mode(ctx.c, GPGME_KEYLIST_MODE_LOCAL);
}

KeyInfo InfoOf(gpgme_key_t k) {
  KeyInfo i;
  if (k->fpr) i.fingerprint = k->fpr;
  if (k->subkeys) {
    if (k->subkeys->keyid) i.keyId = k->subkeys->keyid;
    i.created = k->subkeys->timestamp;
  }
  if (k->uids && k->uids->uid) i.userId = k->uids->uid;
  for (gpgme_user_id_t u = k->uids; u; u = u->next) {
    if (u->revoked || u->invalid) continue;
    std::string a = u->email && *u->email ? Lower(u->email) : AddressOfUserId(u->uid ? u->uid : "");
    if (!a.empty()) i.addresses.push_back(a);
  }
  i.secret = k->secret != 0;
  i.canEncrypt = k->can_encrypt != 0;
  i.canSign = k->can_sign != 0;
  i.revoked = k->revoked != 0;
  i.expired = k->expired != 0;
  i.disabled = k->disabled != 0;
  i.invalid = k->invalid != 0;
  return i;
}

// A secret key can decrypt when a usable encryption subkey of it has its secret part here.
bool CanDecrypt(gpgme_key_t k) {
  for (gpgme_subkey_t s = k->subkeys; s; s = s->next)
    if (s->can_encrypt && s->secret && !s->revoked && !s->expired && !s->disabled && !s->invalid) return true;
  return false;
}

std::vector<KeyInfo> List(const std::string& home, const char* pattern, bool secret, bool decryptable = false) {
  std::vector<KeyInfo> out;
  Ctx ctx;
  if (MakeCtx(home, ctx, false)) return out;
  if (gpgme_op_keylist_start(ctx.c, pattern, secret ? 1 : 0)) return out;
  gpgme_key_t k = nullptr;
  while (!gpgme_op_keylist_next(ctx.c, &k)) {
    KeyInfo i = InfoOf(k);
    if (decryptable) i.canEncrypt = CanDecrypt(k);
    out.push_back(std::move(i));
    gpgme_key_unref(k);
  }
  gpgme_op_keylist_end(ctx.c);
  std::stable_sort(out.begin(), out.end(), [](const KeyInfo& a, const KeyInfo& b) { return a.created < b.created; });
  return out;
}

PgpStatus WriteNewFile(const std::string& path, std::string_view bytes, mode_t mode) {
  Fd f;
  f.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  if (f.fd < 0) return Failure("Cannot create " + path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = errno;
      ::unlink(path.c_str());
      return Failure("Cannot write " + path + ": " + std::strerror(e));
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(f.fd) != 0) {
    const int e = errno;
    ::unlink(path.c_str());
    return Failure("Cannot write " + path + ": " + std::strerror(e));
  }
  return {};
}

bool ReadFile(const std::string& path, std::string* out, size_t cap) {
  Fd f;
  f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (f.fd < 0) return false;
  out->clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (out->size() + static_cast<size_t>(n) > cap) return false;
    out->append(buf, static_cast<size_t>(n));
  }
}

SignatureInfo SignatureOf(const std::string& home, gpgme_ctx_t c) {
  SignatureInfo info;
  gpgme_verify_result_t v = gpgme_op_verify_result(c);
  if (!v || !v->signatures) return info;
  gpgme_signature_t s = v->signatures;
  info.present = true;
  info.good = gpgme_err_code(s->status) == GPG_ERR_NO_ERROR;
  if (s->fpr) info.fingerprint = s->fpr;
  info.signer = info.fingerprint;
  if (!info.fingerprint.empty()) {
    Ctx ctx;
    Key k;
    if (!MakeCtx(home, ctx, false) && !gpgme_get_key(ctx.c, info.fingerprint.c_str(), &k.k, 0) && k.k) {
      if (k.k->fpr) info.fingerprint = k.k->fpr;
      if (k.k->uids && k.k->uids->uid) info.signer = k.k->uids->uid;
    } else {
      info.good = false;  // no key: nothing to check against
    }
  }
  return info;
}

}  // namespace

std::string PgpStatus::Message() const {
  if (ok()) return {};
  return "PGP Error " + std::to_string(code) + (text.empty() ? std::string() : " (" + text + ")");
}

std::string SignatureInfo::Summary() const {
  if (!present) return "Not signed";
  const std::string who = signer.empty() ? std::string("an unknown key") : signer;
  return good ? "Signed by " + who + ": good signature" : "Signed by " + who + ": the signature could not be verified";
}

std::string AddressOfUserId(std::string_view uid) {
  const size_t lt = uid.rfind('<');
  std::string_view a = uid;
  if (lt != std::string_view::npos) {
    const size_t gt = uid.find('>', lt);
    if (gt == std::string_view::npos) return {};
    a = uid.substr(lt + 1, gt - lt - 1);
  }
  while (!a.empty() && (a.front() == ' ' || a.front() == '\t')) a.remove_prefix(1);
  while (!a.empty() && (a.back() == ' ' || a.back() == '\t')) a.remove_suffix(1);
  if (a.find('@') == std::string_view::npos || a.find_first_of(" \t<>") != std::string_view::npos) return {};
  return Lower(a);
}

bool HasArmour(std::string_view text, std::string_view kind) {
  for (const ArmourBlock& b : FindArmour(text, 16))
    if (kind.empty() || b.kind == kind) return true;
  return false;
}

std::vector<ArmourBlock> FindArmour(std::string_view text, size_t maxBlocks) {
  static constexpr std::string_view kBegin = "-----BEGIN PGP ";
  static constexpr std::string_view kDashes = "-----";
  std::vector<ArmourBlock> out;
  size_t pos = 0;
  while (out.size() < maxBlocks && pos < text.size()) {
    const size_t at = text.find(kBegin, pos);
    if (at == std::string_view::npos) break;
    // Only at the start of a line.
    if (at != 0 && text[at - 1] != '\n') {
      pos = at + 1;
      continue;
    }
    const size_t kindStart = at + kBegin.size();
    const size_t kindEnd = text.find(kDashes, kindStart);
    const size_t eol = text.find('\n', kindStart);
    if (kindEnd == std::string_view::npos || (eol != std::string_view::npos && kindEnd > eol) || kindEnd - kindStart > 64) {
      pos = kindStart;
      continue;
    }
    ArmourBlock b;
    b.kind = std::string(text.substr(kindStart, kindEnd - kindStart));
    // A clear-signed text has no end line of its own: it ends with its signature block.
    const std::string endLine = "-----END PGP " + std::string(b.kind == "SIGNED MESSAGE" ? "SIGNATURE" : b.kind) + "-----";
    size_t search = kindEnd;
    size_t endAt = std::string_view::npos;
    while ((endAt = text.find(endLine, search)) != std::string_view::npos) {
      if (text[endAt - 1] == '\n') break;
      search = endAt + 1;
    }
    if (endAt == std::string_view::npos) break;  // no end: neither this nor a later block is whole
    b.begin = at;
    b.end = endAt + endLine.size();
    out.push_back(std::move(b));
    pos = out.back().end;
  }
  return out;
}

PgpBridge::PgpBridge(std::string keyFolder) : home_(std::move(keyFolder)) {
  if (!home_.empty() && home_.back() != '/') home_ += '/';
}

PgpBridge::~PgpBridge() { Stop(); }

std::string PgpBridge::ReasonText() const {
  switch (reason_) {
    case Unavailable::None: return {};
    case Unavailable::Library: return "GpgME could not be initialised (1)";
    case Unavailable::Engine: return "GnuPG (the gpg program, 2.2 or newer) is not installed (2)";
    case Unavailable::KeyFolder: return "the key folder " + home_ + " cannot be made private (3)";
    case Unavailable::SocketPath: return "the key folder's path is too long for the key agent (4)";
  }
  return {};
}

bool PgpBridge::Start() {
  if (started_) return Available();
  started_ = true;
  static std::once_flag once;
  static bool libraryOk = false;
  std::call_once(once, [] {
    libraryOk = gpgme_check_version("1.13.0") != nullptr;
    if (libraryOk) {
      gpgme_set_locale(nullptr, LC_CTYPE, std::setlocale(LC_CTYPE, nullptr));
    }
  });
  reason_ = Unavailable::Library;
  if (!libraryOk) return false;
  reason_ = Unavailable::Engine;
  if (gpgme_engine_check_version(GPGME_PROTOCOL_OpenPGP)) return false;
  gpgme_engine_info_t info = nullptr;
  if (!gpgme_get_engine_info(&info))
    for (; info; info = info->next)
      if (info->protocol == GPGME_PROTOCOL_OpenPGP && info->version) engineVersion_ = info->version;
  if (engineVersion_.empty() || engineVersion_ < std::string("2.2")) return false;

  reason_ = Unavailable::KeyFolder;
  std::string dir = home_.substr(0, home_.size() - 1);
  if (dir.empty()) return false;
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & 0777) != 0700 && ::chmod(dir.c_str(), 0700) != 0) return false;
  // Settings of our own: no key is ever fetched from the network or taken from a message, and
  // the keys in this folder are the ones the user chose to hold.
  const std::string conf = home_ + "gpg.conf";
  if (::access(conf.c_str(), F_OK) != 0)
    (void)WriteNewFile(conf, "no-auto-key-retrieve\nno-auto-key-locate\ntrust-model always\ndigest-algo SHA256\n"
                             "personal-digest-preferences SHA256\n", 0600);
  const std::string agentConf = home_ + "gpg-agent.conf";
  if (::access(agentConf.c_str(), F_OK) != 0) (void)WriteNewFile(agentConf, "allow-loopback-pinentry\n", 0600);

  // The agent's sockets live in the key folder unless the system gives a runtime folder; a
  // folder whose path is too long is reached through a short link of ours.
  engineHome_ = dir;
  struct stat rt;
  const std::string runtime = "/run/user/" + std::to_string(::geteuid());
  const bool runtimeDir = ::stat(runtime.c_str(), &rt) == 0 && S_ISDIR(rt.st_mode);
  if (!runtimeDir && dir.size() > kMaxSocketFolder) {
    reason_ = Unavailable::SocketPath;
    const QByteArray h = QCryptographicHash::hash(QByteArray::fromStdString(dir), QCryptographicHash::Sha256).toHex().left(16);
    const std::string link = "/tmp/pxg-" + std::to_string(::geteuid()) + "-" + h.toStdString();
    struct stat ls;
    if (::lstat(link.c_str(), &ls) == 0) {
      char target[4096];
      const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
      if (!S_ISLNK(ls.st_mode) || ls.st_uid != ::geteuid() || n <= 0 || std::string(target, static_cast<size_t>(n)) != dir)
        return false;
    } else if (::symlink(dir.c_str(), link.c_str()) != 0) {
      return false;
    }
    engineHome_ = link;
  }
  reason_ = Unavailable::None;
  QProcess::execute(QStringLiteral("gpgconf"), {QStringLiteral("--homedir"), QString::fromStdString(engineHome_),
                                                 QStringLiteral("--launch"), QStringLiteral("gpg-agent")});
  return true;
}

void PgpBridge::Stop() {
  if (!started_ || reason_ != Unavailable::None) return;
  started_ = false;
  QProcess::execute(QStringLiteral("gpgconf"), {QStringLiteral("--homedir"), QString::fromStdString(engineHome_),
                                                 QStringLiteral("--kill"), QStringLiteral("gpg-agent")});
}

PgpStatus PgpBridge::Ready() const {
  if (reason_ != Unavailable::None) return Failure("PGP is not available: " + ReasonText());
  return {};
}

std::vector<KeyInfo> PgpBridge::ListKeys(bool secretOnly) const {
  if (!Available()) return {};
  return List(engineHome_, nullptr, secretOnly, secretOnly);
}

bool PgpBridge::FindKey(std::string_view address, KeyUse use, KeyInfo* out) const {
  if (!Available()) return false;
  const std::string want = Lower(address);
  if (want.empty() || want.find('@') == std::string::npos) return false;
  const bool secret = use != KeyUse::Encrypt;
  for (KeyInfo& k : List(engineHome_, want.c_str(), secret, use == KeyUse::Decrypt)) {
    if (!k.Usable()) continue;
    if (std::find(k.addresses.begin(), k.addresses.end(), want) == k.addresses.end()) continue;
    if ((use == KeyUse::Encrypt || use == KeyUse::Decrypt) && !k.canEncrypt) continue;
    if (use == KeyUse::Sign && !k.canSign) continue;
    if (out) *out = std::move(k);
    return true;
  }
  return false;
}

PgpStatus PgpBridge::GenerateKey(std::string_view name, std::string_view address, KeyInfo* made) {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  std::string cleanName;
  for (char c : name)
    if (c != '<' && c != '>' && c != '\r' && c != '\n' && c != '\0') cleanName += c;
  while (!cleanName.empty() && cleanName.back() == ' ') cleanName.pop_back();
  while (!cleanName.empty() && cleanName.front() == ' ') cleanName.erase(0, 1);
  if (AddressOfUserId(address).empty()) return Failure("Not an address: " + std::string(address));
  const std::string uid = cleanName.empty() ? "<" + std::string(address) + ">" : cleanName + " <" + std::string(address) + ">";
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, false)) return StatusOf(e);
  gpgme_error_t e = gpgme_op_createkey(ctx.c, uid.c_str(), "rsa2048", 0, 0, nullptr,
                                       GPGME_CREATE_SIGN | GPGME_CREATE_CERT | GPGME_CREATE_NOPASSWD |
                                           GPGME_CREATE_NOEXPIRE | GPGME_CREATE_FORCE);
  if (e) return StatusOf(e);
  gpgme_genkey_result_t r = gpgme_op_genkey_result(ctx.c);
  if (!r || !r->fpr) return Failure("the new key was not reported");
  const std::string fpr = r->fpr;
  Key key;
  if ((e = gpgme_get_key(ctx.c, fpr.c_str(), &key.k, 1))) return StatusOf(e);
  e = gpgme_op_createsubkey(ctx.c, key.k, "rsa2048", 0, 0,
                            GPGME_CREATE_ENCR | GPGME_CREATE_NOPASSWD | GPGME_CREATE_NOEXPIRE);
  if (e) {
    // A key that cannot receive mail is of no use: take it away again.
    (void)gpgme_op_delete_ext(ctx.c, key.k, GPGME_DELETE_ALLOW_SECRET | GPGME_DELETE_FORCE);
    return StatusOf(e);
  }
  if (made) {
    auto keys = List(engineHome_, fpr.c_str(), true, true);
    if (!keys.empty()) *made = keys.front();
  }
  return {};
}

PgpStatus PgpBridge::ExportPublic(std::string_view who, std::string* armoured) const {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  std::string pattern(who);
  if (pattern.find('@') != std::string::npos) {
    KeyInfo k;
    if (!FindKey(who, KeyUse::Encrypt, &k)) {
      PgpStatus s;
      s.code = GPG_ERR_NO_PUBKEY;
      s.text = "No public key for " + std::string(who);
      return s;
    }
    pattern = k.fingerprint;
  }
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, true)) return StatusOf(e);
  Data out;
  if (gpgme_error_t e = gpgme_data_new(&out.d)) return StatusOf(e);
  if (gpgme_error_t e = gpgme_op_export(ctx.c, pattern.c_str(), GPGME_EXPORT_MODE_MINIMAL, out.d)) return StatusOf(e);
  *armoured = out.Take();
  if (armoured->empty()) {
    PgpStatus s;
    s.code = GPG_ERR_NO_PUBKEY;
    s.text = "No public key for " + std::string(who);
    return s;
  }
  return {};
}

PgpStatus PgpBridge::ExportSecret(std::string_view fingerprint, std::string* armoured) const {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, true)) return StatusOf(e);
  Data out;
  if (gpgme_error_t e = gpgme_data_new(&out.d)) return StatusOf(e);
  const std::string fpr(fingerprint);
  if (gpgme_error_t e = gpgme_op_export(ctx.c, fpr.c_str(), GPGME_EXPORT_MODE_SECRET, out.d)) return StatusOf(e);
  *armoured = out.Take();
  if (armoured->empty()) return Failure("No secret key " + fpr);
  return {};
}

ImportOutcome PgpBridge::Import(std::string_view keyData, std::string_view onlyAddress) {
  ImportOutcome out;
  if (PgpStatus s = Ready(); !s.ok()) {
    out.status = s;
    return out;
  }
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, false)) {
    out.status = StatusOf(e);
    return out;
  }
  if (!onlyAddress.empty()) {
    const std::string a = Lower(onlyAddress);
    if (a.find_first_of(" \t\r\n\"") != std::string::npos || AddressOfUserId(a).empty()) {
      out.status = Failure("Not an address: " + std::string(onlyAddress));
      return out;
    }
    const std::string filter = "keep-uid=mbox = " + a;
    if (gpgme_error_t e = gpgme_set_ctx_flag(ctx.c, "import-filter", filter.c_str())) {
      out.status = StatusOf(e);
      return out;
    }
  }
  Data in;
  if (gpgme_error_t e = gpgme_data_new_from_mem(&in.d, keyData.data(), keyData.size(), 0)) {
    out.status = StatusOf(e);
    return out;
  }
  if (gpgme_error_t e = gpgme_op_import(ctx.c, in.d)) {
    out.status = StatusOf(e);
    return out;
  }
  gpgme_import_result_t r = gpgme_op_import_result(ctx.c);
  if (!r) return out;
  out.imported = r->imported + r->new_signatures + r->new_sub_keys + r->new_user_ids;
  out.secret = r->secret_imported;
  std::vector<std::string> secretFprs;
  for (gpgme_import_status_t i = r->imports; i; i = i->next) {
    if (!i->fpr || gpgme_err_code(i->result)) continue;
    if (std::find(out.fingerprints.begin(), out.fingerprints.end(), i->fpr) == out.fingerprints.end())
      out.fingerprints.push_back(i->fpr);
    if ((i->status & GPGME_IMPORT_SECRET) &&
        std::find(secretFprs.begin(), secretFprs.end(), i->fpr) == secretFprs.end())
      secretFprs.push_back(i->fpr);
  }
  if (out.fingerprints.empty() && (!onlyAddress.empty() || r->considered == 0)) {
    out.status = Failure(onlyAddress.empty() ? "The key data holds no usable key"
                                             : "The key data holds no key for " + std::string(onlyAddress));
    return out;
  }
  // A secret key protected by a passphrase cannot be used here: take its secret part back out
  // and keep the public part.
  for (const std::string& fpr : secretFprs) {
    std::string sig;
    if (SignDetached("probe", fpr, &sig).ok()) continue;
    std::string pub;
    if (!ExportPublic(fpr, &pub).ok()) pub.clear();
    Ctx del;
    Key k;
    if (MakeCtx(engineHome_, del, false) || gpgme_get_key(del.c, fpr.c_str(), &k.k, 1)) continue;
    if (gpgme_op_delete_ext(del.c, k.k, GPGME_DELETE_ALLOW_SECRET | GPGME_DELETE_FORCE)) continue;
    if (!pub.empty()) {
      Data again;
      if (!gpgme_data_new_from_mem(&again.d, pub.data(), pub.size(), 0)) (void)gpgme_op_import(del.c, again.d);
    }
    out.refused.push_back(fpr);
    if (out.secret > 0) --out.secret;
  }
  return out;
}

PgpStatus PgpBridge::DeleteKey(std::string_view fingerprint, const std::string& backupFile) {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  const std::string fpr(fingerprint);
  if (fpr.size() < 16 || fpr.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
    return Failure("Not a fingerprint: " + fpr);
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, false)) return StatusOf(e);
  Key pub, sec;
  if (gpgme_error_t e = gpgme_get_key(ctx.c, fpr.c_str(), &pub.k, 0)) return StatusOf(e);
  const bool hasSecret = !gpgme_get_key(ctx.c, fpr.c_str(), &sec.k, 1) && sec.k;
  if (hasSecret) {
    if (backupFile.empty()) return Failure("A secret key is never removed without a backup");
    std::string armoured;
    if (PgpStatus s = ExportSecret(fpr, &armoured); !s.ok()) return s;
    if (PgpStatus s = WriteNewFile(backupFile, armoured, 0600); !s.ok()) return s;
  }
  return StatusOf(gpgme_op_delete_ext(ctx.c, pub.k, hasSecret ? GPGME_DELETE_ALLOW_SECRET | GPGME_DELETE_FORCE
                                                                : GPGME_DELETE_FORCE));
}

namespace {

gpgme_error_t Recipients(gpgme_ctx_t c, const std::vector<std::string>& fprs, std::vector<gpgme_key_t>& keys) {
  for (const auto& f : fprs) {
    gpgme_key_t k = nullptr;
    if (gpgme_error_t e = gpgme_get_key(c, f.c_str(), &k, 0)) return e;
    keys.push_back(k);
  }
  keys.push_back(nullptr);
  return 0;
}

void Unref(std::vector<gpgme_key_t>& keys) {
  for (auto k : keys)
    if (k) gpgme_key_unref(k);
}

gpgme_error_t AddSigner(gpgme_ctx_t c, std::string_view signWith) {
  if (signWith.empty()) return 0;
  Key k;
  const std::string f(signWith);
  if (gpgme_error_t e = gpgme_get_key(c, f.c_str(), &k.k, 1)) return e;
  gpgme_signers_clear(c);
  return gpgme_signers_add(c, k.k);
}

}  // namespace

PgpStatus PgpBridge::EncryptData(std::string_view plain, std::string* out, const std::vector<std::string>& fprs,
                                 bool armour, std::string_view signWith) {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  if (fprs.empty()) return Failure("No recipient key");
  Ctx ctx;
  if (gpgme_error_t e = MakeCtx(engineHome_, ctx, armour)) return StatusOf(e);
  std::vector<gpgme_key_t> keys;
  gpgme_error_t e = Recipients(ctx.c, fprs, keys);
  if (!e) e = AddSigner(ctx.c, signWith);
  Data in, cipher;
  if (!e) e = gpgme_data_new_from_mem(&in.d, plain.data(), plain.size(), 0);
  if (!e) e = gpgme_data_new(&cipher.d);
  if (!e)
    e = signWith.empty() ? gpgme_op_encrypt(ctx.c, keys.data(), GPGME_ENCRYPT_ALWAYS_TRUST, in.d, cipher.d)
                         : gpgme_op_encrypt_sign(ctx.c, keys.data(), GPGME_ENCRYPT_ALWAYS_TRUST, in.d, cipher.d);
  Unref(keys);
  if (e) return StatusOf(e);
  *out = cipher.Take();
  return {};
}

PgpStatus PgpBridge::EncryptFile(const std::string& inPath, const std::string& outPath,
                                 const std::vector<std::string>& fprs, bool armour, std::string_view signWith) {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  if (fprs.empty()) return Failure("No recipient key");
  Fd inFd, outFd;
  inFd.fd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (inFd.fd < 0) return Failure("Cannot open " + inPath + ": " + std::strerror(errno));
  outFd.fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (outFd.fd < 0) return Failure("Cannot create " + outPath + ": " + std::strerror(errno));
  Ctx ctx;
  gpgme_error_t e = MakeCtx(engineHome_, ctx, armour);
  std::vector<gpgme_key_t> keys;
  if (!e) e = Recipients(ctx.c, fprs, keys);
  if (!e) e = AddSigner(ctx.c, signWith);
  Data in, cipher;
  if (!e) e = gpgme_data_new_from_fd(&in.d, inFd.fd);
  if (!e) e = gpgme_data_new_from_fd(&cipher.d, outFd.fd);
  if (!e)
    e = signWith.empty() ? gpgme_op_encrypt(ctx.c, keys.data(), GPGME_ENCRYPT_ALWAYS_TRUST, in.d, cipher.d)
                         : gpgme_op_encrypt_sign(ctx.c, keys.data(), GPGME_ENCRYPT_ALWAYS_TRUST, in.d, cipher.d);
  Unref(keys);
  if (!e && ::fsync(outFd.fd) != 0) e = gpgme_error_from_syserror();
  if (e) {
    ::unlink(outPath.c_str());
    return StatusOf(e);
  }
  return {};
}

DecryptResult PgpBridge::DecryptData(std::string_view cipherText, std::string* plain) {
  DecryptResult r;
  if (PgpStatus s = Ready(); !s.ok()) {
    r.status = s;
    return r;
  }
  Ctx ctx;
  Data in, out;
  gpgme_error_t e = MakeCtx(engineHome_, ctx, false);
  if (!e) e = gpgme_data_new_from_mem(&in.d, cipherText.data(), cipherText.size(), 0);
  if (!e) e = gpgme_data_new(&out.d);
  if (!e) e = gpgme_op_decrypt_verify(ctx.c, in.d, out.d);
  r.status = StatusOf(e);
  if (e) return r;
  r.wasEncrypted = true;
  r.signature = SignatureOf(engineHome_, ctx.c);
  *plain = out.Take();
  return r;
}

DecryptResult PgpBridge::DecryptFile(const std::string& inPath, const std::string& outPath) {
  DecryptResult r;
  if (PgpStatus s = Ready(); !s.ok()) {
    r.status = s;
    return r;
  }
  Fd inFd, outFd;
  inFd.fd = ::open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (inFd.fd < 0) {
    r.status = Failure("Cannot open " + inPath + ": " + std::strerror(errno));
    return r;
  }
  outFd.fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (outFd.fd < 0) {
    r.status = Failure("Cannot create " + outPath + ": " + std::strerror(errno));
    return r;
  }
  Ctx ctx;
  Data in, out;
  gpgme_error_t e = MakeCtx(engineHome_, ctx, false);
  if (!e) e = gpgme_data_new_from_fd(&in.d, inFd.fd);
  if (!e) e = gpgme_data_new_from_fd(&out.d, outFd.fd);
  if (!e) e = gpgme_op_decrypt_verify(ctx.c, in.d, out.d);
  if (!e && ::fsync(outFd.fd) != 0) e = gpgme_error_from_syserror();
  r.status = StatusOf(e);
  if (e) {
    ::unlink(outPath.c_str());
    return r;
  }
  r.wasEncrypted = true;
  r.signature = SignatureOf(engineHome_, ctx.c);
  return r;
}

PgpStatus PgpBridge::SignDetached(std::string_view data, std::string_view fingerprint, std::string* signature) {
  if (PgpStatus s = Ready(); !s.ok()) return s;
  Ctx ctx;
  Data in, out;
  gpgme_error_t e = MakeCtx(engineHome_, ctx, true);
  if (!e) e = AddSigner(ctx.c, fingerprint);
  if (!e) e = gpgme_data_new_from_mem(&in.d, data.data(), data.size(), 0);
  if (!e) e = gpgme_data_new(&out.d);
  if (!e) e = gpgme_op_sign(ctx.c, in.d, out.d, GPGME_SIG_MODE_DETACH);
  if (e) return StatusOf(e);
  *signature = out.Take();
  return {};
}

SignatureInfo PgpBridge::Verify(std::string_view data, std::string_view signature, std::string* signedText) {
  if (!Available()) return {};
  Ctx ctx;
  Data sig, text, plain;
  gpgme_error_t e = MakeCtx(engineHome_, ctx, false);
  if (e) return {};
  if (signature.empty()) {
    if (gpgme_data_new_from_mem(&sig.d, data.data(), data.size(), 0) || gpgme_data_new(&plain.d)) return {};
    e = gpgme_op_verify(ctx.c, sig.d, nullptr, plain.d);
  } else {
    if (gpgme_data_new_from_mem(&sig.d, signature.data(), signature.size(), 0) ||
        gpgme_data_new_from_mem(&text.d, data.data(), data.size(), 0))
      return {};
    e = gpgme_op_verify(ctx.c, sig.d, text.d, nullptr);
  }
  SignatureInfo info = SignatureOf(engineHome_, ctx.c);
  if (e) info.good = false;
  if (signedText && plain.d) *signedText = plain.Take();
  return info;
}

ImportOutcome PgpBridge::ImportLegacyRings(const std::string& dataRoot) {
  ImportOutcome all;
  if (!Available()) return all;
  const std::string marker = home_ + "legacy-rings-imported";
  if (::access(marker.c_str(), F_OK) == 0) return all;
  for (const char* name : {"plumadex.pkr", "plumadex.skr"}) {
    std::string bytes;
    if (!ReadFile(dataRoot + name, &bytes, 64u << 20) || bytes.empty()) continue;
    ImportOutcome one = Import(bytes);
    if (!one.status.ok() && all.status.ok()) all.status = one.status;
    all.imported += one.imported;
    all.secret += one.secret;
    all.fingerprints.insert(all.fingerprints.end(), one.fingerprints.begin(), one.fingerprints.end());
    all.refused.insert(all.refused.end(), one.refused.begin(), one.refused.end());
  }
  (void)WriteNewFile(marker, "", 0600);
  return all;
}

}  // namespace px::crypto
