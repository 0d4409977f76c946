#pragma once
// The message window's rules, kept apart from its widgets: the four modes and the option word,
// which buttons a mode shows, how a viewed message turns into a reply, a forward or a new
// message, the compose header's sender choices and encryption check, and the record
// (TNewMessageRec) a window hands to the desk when a message leaves it.
//
// Text in the model is UTF-8; the message charset is applied once, when the record is made.
#include "compose/reply_bodies.h"
#include "foundation/address.h"
#include "foundation/types.h"

#include <deque>
#include <functional>
#include <string>
#include <string_view>

namespace px::compose {

// Modes of the window.
enum EditMode : int {
  emTextViewer = 0,
  emTextEditor = 1,
  emHtmlViewer = 2,
  emHtmlEditor = 3,
};

// The option word the opener sets.
inline constexpr int eoSticker = 0x0001;
inline constexpr int eoPlainDocument = 0x0002;
inline constexpr int eoMail = 0x0004;
inline constexpr int eoReceived = 0x0008;
inline constexpr int eoReplyAllOffered = 0x0010;
inline constexpr int eoStartReply = 0x0020;
inline constexpr int eoStartReplyAll = 0x0040;
inline constexpr int eoStartForward = 0x0080;
inline constexpr int eoStartNew = 0x0100;
inline constexpr int eoHiddenNew = 0x0200;
inline constexpr int eoHiddenForward = 0x0400;
inline constexpr int eoHiddenAttach = 0x0800;
inline constexpr int eoCaretSubject = 0x1000;
inline constexpr int eoCaretBody = 0x2000;
inline constexpr int eoReEdit = 0x4000;
inline constexpr int eoHtml = 0x8000;
inline constexpr int eoGivenGeometry = 0x10000;
inline constexpr int eoStartMask = eoStartReply | eoStartReplyAll | eoStartForward | eoStartNew | eoHiddenNew |
                                   eoHiddenForward | eoHiddenAttach;
inline constexpr int eoHidden = eoHiddenNew | eoHiddenForward;

// Tags of the formatting controls: a control is enabled in mode m when its tag is 0 or has
// the bit 2^m.
inline constexpr int kTagEditing = 10;   // Cut, Paste, Undo: modes 1 and 3
inline constexpr int kTagAnyMode = 15;   // Copy, Encoding
inline constexpr int kTagHtmlOnly = 8;   // font, size, bold ... image, hyperlink: mode 3
bool ControlEnabled(int tag, int mode);

struct ModeButtons {
  bool cancel = false;
  bool save = false;
  bool close = false;
  bool encoding = false;
  bool formatBar = false;
};
ModeButtons ButtonsForMode(int mode, bool composeHeaderShown);

// Which mail toolbar actions the option word offers.
struct MailActions {
  bool sendAsEmail = false;
  bool forward = false, copy = false, encoding = false;
  bool reply = false, block = false, del = false;
  bool replyAll = false;
  bool clear = false;
};
MailActions ActionsForOptions(int options);

// The mode a window opens in.
int OpeningMode(int options, bool htmlBody, bool hasHeaderLines);

enum class StartAction { None, Reply, ReplyAll, Forward, SendAsEmail };
// Reply, Reply To All, Forward or Send as E-mail, in this order of precedence.
StartAction StartActionOf(int options);

enum class CaretPlace { Body, Subject };
CaretPlace CaretPlaceOf(int options, std::string_view to, std::string_view subject);

// What the opener knows of the document (Part of the desk's opening of documents).
struct OpenRequest {
  std::string path;                 // the document
  int options = 0;
  StringList headerLines;           // "From: ...", ... in UTF-8
  StringList attachments;           // full paths of the message's other parts
  // The other parts that have a Content-ID (without brackets), for the body's "cid:" pictures.
  std::vector<std::pair<std::string, std::string>> partContentIds;  // content id, full path
  std::string charset;              // the document's charset ("" = the default)
  std::string from, to, cc, bcc;    // recipients of the opened message (UTF-8)
  std::string subject;              // its title
  std::string excludeTo;
  std::string msgId;                // of a re-edited outgoing message
  std::string original;
  // The message's Internet id and the ids before it in its thread (received mail), or the
  // thread headers a re-edited reply already has.
  std::string messageId, references, inReplyTo;
  int flags = 0;
  std::string title;                // window title hint
};

// The record a window hands to the desk; the desk keeps them in a list and files the most
// recently queued one first.
struct TNewMessageRec {
  bool modified = false;
  std::string Subject;
  std::string From;
  std::string To;
  std::string Cc;
  std::string Bcc;
  std::string ExcludeTo;
  StringList Attachments;
  std::string Charset;
  bool Encrypt = false;
  bool Draft = false;
  std::string ReplacesMsgID;
  std::string BodyFile;
  std::string Original;
  // Thread headers of a reply ("<...>" ids, blank-separated); empty otherwise.
  std::string InReplyTo;
  std::string References;
  bool SendNow = false;
  bool Hidden = false;
  std::string Document;  // the document the window was opened on
};

class NewMessageList {
public:
  void Push(TNewMessageRec rec) { list_.push_front(std::move(rec)); }
  bool Empty() const { return list_.empty(); }
  size_t Size() const { return list_.size(); }
  // The most recently queued record.
  TNewMessageRec Take() {
    TNewMessageRec r = std::move(list_.front());
    list_.pop_front();
    return r;
  }

private:
  std::deque<TNewMessageRec> list_;
};

// The text of the viewed message as the reply and forward rules need it.
struct ViewedText {
  bool html = false;       // the message is an HTML document
  bool eml = false;        // ... stored as ".eml"
  StringList lines;        // its plain text (for HTML: the text taken from it), UTF-8
  bool rich = false;       // the HTML holds content plain text cannot show
};

// The first body of a composed message.
struct BodyPlan {
  bool html = false;
  StringList lines;            // plain text
  std::string document;        // HTML: a new document to load ("" = keep the one loaded)
  BodyWrap wrap;               // HTML: put around the loaded document's body content
  bool keepBody = false;       // nothing changes (re-edited message)
  std::string addAttachment;   // the viewed document itself, when its text loses content
};

// The settings and facts the compose rules read.
struct ComposeEnv {
  std::string userName;
  std::string userId;            // service name
  std::string defaultSender;     // OwnFromAddress
  std::string alternativeFrom;   // comma list
  // The addresses the user sends as, in full (transport/identities); when set, From offers
  // these and a reply starts from the one the original came to.
  StringList identities;
  StringList ownAddresses;       // every address of the user (the accounts'), for Reply To All
  bool htmlMessages = true;      // Message Format is not 1
  Signature signature;
  TemplateFont htmlFont;
  bool encryptionAvailable = false;
  std::function<bool(std::string_view address)> alwaysEncrypt;  // may be empty
  bool online = true;
  GroupMembersFn groupMembers;   // may be empty
};

// The sender box: the alternative addresses, with the user's own entry first when missing.
StringList SenderChoices(const ComposeEnv& env);

// All recipients, groups expanded and excluded members left out, are users of the service.
bool RecipientsCanDecrypt(std::string_view to, std::string_view cc, std::string_view bcc,
                          std::string_view excludeTo, const GroupMembersFn& members);

// The window's composing state.
class ComposeModel {
public:
  explicit ComposeModel(ComposeEnv env) : env_(std::move(env)) {}

  void Open(const OpenRequest& req);
  const OpenRequest& Request() const { return req_; }
  const ComposeEnv& Env() const { return env_; }

  // Turning the viewed message into a new one. Each sets the fields below and returns the body.
  BodyPlan Reply(bool all, const ViewedText& viewed, std::string_view ownServiceId);
  BodyPlan Forward(const ViewedText& viewed);
  // A new message (the To field may hold a mailto URL) or a document sent as e-mail.
  BodyPlan SendAsEmail(const ViewedText& viewed, bool newMessage);

  // Fields of the compose header (UTF-8).
  std::string from, to, cc, bcc, subject, excludeTo, original;
  std::string inReplyTo, references;  // thread headers of a reply
  StringList attachments;
  bool encrypt = false;
  bool html = false;
  bool headerChanged = false;
  bool composing = false;
  std::string charset;          // the message charset
  std::string windowTitle;

  // Attachments: the opened document is never one of them; doubles are dropped.
  void AddAttachments(const StringList& paths);
  void RemoveAttachment(size_t index);

  // Send Later is enabled while To is filled; Send Now also needs a connection.
  bool SendLaterEnabled() const;
  bool SendNowEnabled() const;

  // Encryption: unchecks the box when a recipient cannot decrypt; true when it stays checked.
  bool CheckEncryption();
  // Some recipient (groups expanded) is a contact whose mail is always encrypted.
  bool RecipientWantsEncryption() const;

  enum class QueueKind { Draft, Later, Now };
  // The subject the record gets: the field, else the only attachment's title, else
  // "(no subject)". `titleOf` gives a document's title ("" for none).
  std::string RecordSubject(const std::function<std::string(const std::string&)>& titleOf) const;
  // Fills the record. `bodyFile` holds the saved body; `bodyText` is its text (the HTML source
  // in HTML mode) in UTF-8, used to decide the charset; `bodyCharset` is the charset the body
  // file was written in. Header fields are encoded in that charset.
  TNewMessageRec MakeRecord(QueueKind kind, const std::string& bodyFile, std::string_view bodyText,
                            const std::string& bodyCharset, bool textModified,
                            const std::function<std::string(const std::string&)>& titleOf) const;

  // The charset that holds every text: `preferred` when it can, else UTF-8.
  static std::string CharsetHolding(std::string_view preferred, const StringList& utf8Texts);
  // The plain body as written to the ".txt" file: encoded, CR LF lines, an empty text as CR LF.
  static std::string PlainBodyBytes(std::string_view utf8Text, std::string_view charset);

private:
  void StartComposing();
  ComposeEnv env_;
  OpenRequest req_;
};

}  // namespace px::compose
