#include "compose/compose_model.h"

#include "transport/identities.h"

#include "compose/mailto.h"
#include "foundation/charset.h"
#include "foundation/strings.h"
#include "foundation/text_case.h"

#include <algorithm>

namespace px::compose {

bool ControlEnabled(int tag, int mode) { return tag == 0 || (tag & (1 << mode)) != 0; }

ModeButtons ButtonsForMode(int mode, bool composeHeaderShown) {
  ModeButtons b;
  b.cancel = mode == emTextEditor || mode == emHtmlEditor;
  b.save = b.cancel && !composeHeaderShown;
  b.close = !b.cancel;
  b.encoding = mode != emHtmlViewer;
  b.formatBar = mode == emTextEditor || mode == emHtmlEditor;
  return b;
}

MailActions ActionsForOptions(int o) {
  MailActions a;
  a.clear = o & eoSticker;
  a.sendAsEmail = o & eoPlainDocument;
  a.forward = a.copy = a.encoding = o & eoMail;
  a.reply = a.block = a.del = o & eoReceived;
  a.replyAll = o & eoReplyAllOffered;
  return a;
}

int OpeningMode(int options, bool htmlBody, bool hasHeaderLines) {
  const bool mailView = (options & (eoMail | eoHidden)) && hasHeaderLines;
  if (htmlBody || (options & eoHtml)) return (options & eoStartMask) ? emHtmlEditor : emHtmlViewer;
  if (mailView) return emTextViewer;
  return emTextEditor;
}

StartAction StartActionOf(int o) {
  if (o & eoStartReply) return StartAction::Reply;
  if (o & eoStartReplyAll) return StartAction::ReplyAll;
  if (o & (eoStartForward | eoHiddenForward)) return StartAction::Forward;
  if (o & (eoStartNew | eoHiddenNew)) return StartAction::SendAsEmail;
  return StartAction::None;
}

CaretPlace CaretPlaceOf(int options, std::string_view to, std::string_view subject) {
  if (options & eoCaretBody) return CaretPlace::Body;
  if (options & eoCaretSubject) return CaretPlace::Subject;
  if (!Trim(to).empty() && Trim(subject).empty()) return CaretPlace::Subject;
  return CaretPlace::Body;
}

StringList SenderChoices(const ComposeEnv& env) {
  if (!env.identities.empty()) return env.identities;
  StringList out;
  for (const std::string& e : SplitCommaList(env.alternativeFrom))
    if (!Trim(e).empty()) out.push_back(Trim(e));
  if (!env.userId.empty()) {
    const std::string own = env.userName.empty() ? env.userId : "\"" + env.userName + "\" <" + env.userId + ">";
    const bool present = std::any_of(out.begin(), out.end(), [&](const std::string& e) {
      return SameText(BareAddressOf(e), BareAddressOf(own));
    });
    if (!present) out.insert(out.begin(), own);
  }
  return out;
}

bool RecipientsCanDecrypt(std::string_view to, std::string_view cc, std::string_view bcc, std::string_view excludeTo,
                          const GroupMembersFn& members) {
  std::string all = std::string(to) + "," + std::string(cc) + "," + std::string(bcc);
  const GroupMembersFn none = [](std::string_view) { return StringList{}; };
  const std::string expanded = ExpandGroups(all, excludeTo, members ? members : none);
  for (const std::string& e : ParseAddressList(expanded)) {
    if (IsGroupAddress(e)) return false;  // a group nobody can expand
    if (BareAddressOf(e).find('@') != std::string::npos) return false;
  }
  return true;
}

void ComposeModel::Open(const OpenRequest& req) {
  req_ = req;
  charset = req.charset;
  if (!charset.empty() && CharsetIndex(charset) < 0) charset.clear();
  from = req.from;
  to = req.to;
  cc = req.cc;
  bcc = req.bcc;
  subject = req.subject;
  excludeTo = req.excludeTo;
  original = req.original;
  // A reply saved as a draft keeps its place in the thread.
  inReplyTo = (req.options & eoReEdit) ? req.inReplyTo : std::string();
  references = (req.options & eoReEdit) ? req.references : std::string();
  attachments.clear();
  AddAttachments(req.attachments);
  html = (req.options & eoHtml) != 0;
  windowTitle = req.title.empty() ? req.subject : req.title;
}

void ComposeModel::StartComposing() {
  composing = true;
  const StringList choices = SenderChoices(env_);
  if (Trim(from).empty() || !(req_.options & eoReEdit)) from = env_.defaultSender;
  (void)choices;
}

namespace {
std::string FolderNameOf(const std::string& path) {
  std::string folder = path.substr(0, path.rfind('/') + 1);
  std::string f = folder;
  while (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  std::string name = slash == std::string::npos ? f : f.substr(slash + 1);
  return name.empty() ? folder : name;
}
}  // namespace

BodyPlan ComposeModel::Reply(bool all, const ViewedText& viewed, std::string_view ownServiceId) {
  StartComposing();
  if (!env_.identities.empty() && (req_.options & eoReceived))
    from = transport::IdentityForReply(env_.identities, req_.to, req_.cc);
  const std::string sender = req_.options & eoReceived ? req_.from : req_.to;
  const Recipients r = ReplyRecipients(sender, req_.to, req_.cc, env_.defaultSender, ownServiceId, all,
                                       env_.ownAddresses);
  const ThreadHeaders thread = ReplyThreadHeaders(req_.messageId, req_.references);
  inReplyTo = thread.inReplyTo;
  references = thread.references;
  to = r.to;
  cc = r.cc;
  bcc.clear();
  attachments.clear();
  subject = ReplySubject(req_.subject);
  windowTitle = subject;
  original = "R," + req_.path;
  html = env_.htmlMessages;
  BodyPlan plan;
  plan.html = html;
  if (!html) {
    plan.lines = PlainReplyLines(req_.headerLines, viewed.lines, env_.signature);
  } else if (viewed.html) {
    plan.wrap = HtmlReplyWrap(req_.headerLines, env_.htmlFont, env_.signature);
  } else {
    StringList text = viewed.lines;
    DropTrailingEmptyLines(text);
    plan.document = HtmlReplyToText(req_.headerLines, text, charset.empty() ? "UTF-8" : charset, env_.htmlFont,
                                    env_.signature);
  }
  headerChanged = true;
  return plan;
}

BodyPlan ComposeModel::Forward(const ViewedText& viewed) {
  StartComposing();
  if (!env_.identities.empty() && (req_.options & eoReceived))
    from = transport::IdentityForReply(env_.identities, req_.to, req_.cc);
  const bool hidden = req_.options & eoHidden;
  if (!hidden) to.clear(), cc.clear(), bcc.clear();
  subject = ForwardSubject(req_.subject);
  windowTitle = subject;
  original = "F," + req_.path;
  inReplyTo.clear();
  references.clear();
  html = env_.htmlMessages;
  BodyPlan plan;
  plan.html = html;
  if (!html) {
    plan.lines = PlainForwardLines(req_.headerLines, viewed.lines, env_.signature);
    if (viewed.html && !viewed.eml && viewed.rich && !hidden) plan.addAttachment = req_.path;
  } else {
    if (!viewed.html) {
      StringList text = viewed.lines;
      DropTrailingEmptyLines(text);
      plan.document = HtmlForwardOfText(text, charset.empty() ? "UTF-8" : charset);
    }
    plan.wrap.before = HtmlForwardHeader(req_.headerLines, env_.htmlFont, env_.signature);
  }
  // The page itself goes along when its text cannot show everything.
  if (!plan.addAttachment.empty()) attachments.push_back(plan.addAttachment);
  headerChanged = true;
  return plan;
}

BodyPlan ComposeModel::SendAsEmail(const ViewedText& viewed, bool newMessage) {
  StartComposing();
  BodyPlan plan;
  if (Trim(subject).empty()) windowTitle = "New message in " + FolderNameOf(req_.path);
  if (newMessage) {
    MailtoFields m;
    if (ProcessMailto(to, m)) {
      to = m.to;
      if (!m.cc.empty()) cc = cc.empty() ? m.cc : cc + ", " + m.cc;
      if (!m.bcc.empty()) bcc = bcc.empty() ? m.bcc : bcc + ", " + m.bcc;
      // A link names who the mail is for; it never makes the user send as someone else.
      if (m.fromGiven && (env_.identities.empty() || transport::IsIdentity(env_.identities, m.from))) from = m.from;
      if (m.subjectGiven) subject = m.subject;
      plan.lines = m.bodyLines;
    }
  } else {
    subject.clear();
    headerChanged = true;
  }
  if (req_.options & eoReEdit) {
    html = req_.options & eoHtml;
    plan.html = html;
    plan.keepBody = true;
    plan.lines.clear();
    return plan;
  }
  html = newMessage ? env_.htmlMessages : (env_.htmlMessages || viewed.html);
  if (!newMessage) html = env_.htmlMessages;
  plan.html = html;
  const Signature& sig = env_.signature;
  if (newMessage) {
    if (html) {
      StringList escapedBody = plan.lines;
      plan.document = escapedBody.empty() ? HtmlNewMessage(env_.htmlFont, sig)
                                          : HtmlOfTextDocument(escapedBody, env_.htmlFont, sig);
      plan.lines.clear();
    } else if (!sig.empty()) {
      for (const std::string& l : SplitLines("\r\n" + sig.plain)) plan.lines.push_back(l);
    }
    return plan;
  }
  if (html) {
    if (!viewed.html) plan.document = HtmlOfTextDocument(viewed.lines, env_.htmlFont, sig);
    // An HTML document keeps its own source.
  } else {
    plan.lines = viewed.lines;
    if (viewed.html && viewed.rich && !(req_.options & eoHidden)) {
      plan.addAttachment = req_.path;
      attachments.push_back(req_.path);
    }
    if (!sig.empty())
      for (const std::string& l : SplitLines("\r\n" + sig.plain)) plan.lines.push_back(l);
  }
  return plan;
}

void ComposeModel::AddAttachments(const StringList& paths) {
  for (const std::string& p : paths) {
    if (p.empty()) continue;
    // The document a message is made of is its body, never one of its attachments.
    if (p == req_.path) continue;
    if (std::find(attachments.begin(), attachments.end(), p) != attachments.end()) continue;
    attachments.push_back(p);
  }
}

void ComposeModel::RemoveAttachment(size_t index) {
  if (index < attachments.size()) attachments.erase(attachments.begin() + static_cast<long>(index));
}

bool ComposeModel::SendLaterEnabled() const { return !Trim(to).empty(); }
bool ComposeModel::SendNowEnabled() const { return SendLaterEnabled() && env_.online; }

bool ComposeModel::RecipientWantsEncryption() const {
  if (!env_.encryptionAvailable || !env_.alwaysEncrypt) return false;
  const GroupMembersFn none = [](std::string_view) { return StringList{}; };
  const std::string all = ExpandGroups(to + "," + cc + "," + bcc, excludeTo, env_.groupMembers ? env_.groupMembers : none);
  for (const std::string& e : ParseAddressList(all))
    if (env_.alwaysEncrypt(BareAddressOf(e))) return true;
  return false;
}

bool ComposeModel::CheckEncryption() {
  if (!encrypt) return false;
  if (!RecipientsCanDecrypt(to, cc, bcc, excludeTo, env_.groupMembers)) encrypt = false;
  return encrypt;
}

std::string ComposeModel::RecordSubject(const std::function<std::string(const std::string&)>& titleOf) const {
  std::string s = Trim(subject);
  if (s.empty() && attachments.size() == 1) {
    s = titleOf ? titleOf(attachments[0]) : std::string();
    if (Trim(s).empty()) {
      std::string name = attachments[0].substr(attachments[0].rfind('/') + 1);
      const size_t dot = name.rfind('.');
      if (dot != std::string::npos && dot > 0) name.resize(dot);
      s = name;
    }
  }
  if (Trim(s).empty()) s = "(no subject)";
  return s;
}

namespace {
bool AllSevenBit(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 128; });
}
// Header values are single lines.
std::string OneLine(std::string v) {
  for (char& c : v)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return v;
}
}  // namespace

std::string ComposeModel::CharsetHolding(std::string_view preferred, const StringList& texts) {
  if (preferred.empty() || SameText(preferred, "UTF-8") || SameText(preferred, "US-ASCII")) {
    if (SameText(preferred, "US-ASCII") &&
        std::all_of(texts.begin(), texts.end(), [](const std::string& t) { return AllSevenBit(t); }))
      return std::string(preferred);
    return "UTF-8";
  }
  if (CodePageOfCharset(preferred) == 0 || IsUnicodeCharset(preferred)) return "UTF-8";
  for (const std::string& t : texts)
    if (DecodeFromCharset(EncodeToCharset(t, preferred), preferred) != t) return "UTF-8";
  return std::string(preferred);
}

std::string ComposeModel::PlainBodyBytes(std::string_view utf8Text, std::string_view charset) {
  if (utf8Text.empty()) return "\r\n";
  const std::string text = JoinLines(SplitLines(utf8Text));
  return EncodeToCharset(text, charset);
}

TNewMessageRec ComposeModel::MakeRecord(QueueKind kind, const std::string& bodyFile, std::string_view bodyText,
                                        const std::string& bodyCharset, bool textModified,
                                        const std::function<std::string(const std::string&)>& titleOf) const {
  TNewMessageRec r;
  const std::string subj = OneLine(RecordSubject(titleOf));
  const std::string f = OneLine(Trim(from)), t = OneLine(Trim(to)), c = OneLine(Trim(cc)), b = OneLine(Trim(bcc));
  std::string cs = bodyCharset.empty() ? CharsetHolding(charset, {std::string(bodyText), subj, f, t, c, b}) : bodyCharset;
  // The header fields travel in the body's charset; when they need more, the body was already
  // written in a charset chosen with them (the window passes all texts), so this only guards.
  if (CharsetHolding(cs, {subj, f, t, c, b}) != cs && !SameText(cs, "UTF-8")) cs = "UTF-8";
  r.Subject = EncodeToCharset(subj, cs);
  r.From = EncodeToCharset(f, cs);
  r.To = EncodeToCharset(t, cs);
  r.Cc = EncodeToCharset(c, cs);
  r.Bcc = EncodeToCharset(b, cs);
  r.ExcludeTo = OneLine(excludeTo);
  r.Attachments = attachments;
  r.Draft = kind == QueueKind::Draft || t.empty();
  r.Charset = cs;
  if (!r.Draft && AllSevenBit(bodyText) && AllSevenBit(subj) && AllSevenBit(f) && AllSevenBit(t) && AllSevenBit(c) &&
      AllSevenBit(b))
    r.Charset = "US-ASCII";
  r.Encrypt = encrypt;
  r.modified = headerChanged || textModified;
  if (req_.options & eoReEdit) r.ReplacesMsgID = req_.msgId.empty() ? "-" : req_.msgId;
  r.BodyFile = bodyFile;
  r.Original = original;
  r.InReplyTo = OneLine(inReplyTo);
  r.References = OneLine(references);
  r.SendNow = kind == QueueKind::Now;
  r.Hidden = (req_.options & eoHidden) != 0;
  r.Document = req_.path;
  return r;
}

}  // namespace px::compose
