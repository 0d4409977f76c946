#include "incoming/mail_preview.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>

#include "foundation/charset.h"
#include "foundation/dates.h"
#include "foundation/text_case.h"
#include "incoming/blocked_senders.h"
#include "mailformat/codecs.h"
#include "transport/pop3/pop3_preview.h"

namespace px::incoming {

using transport::TMailPreviewItem;

void MailPreviewList::Clear() {
  items_.clear();
  order_.clear();
  notify();
}

void MailPreviewList::Listed(const TMailPreviewItem& item) {
  for (const auto& it : items_)
    if (it.account == item.account && it.fileName == item.fileName) return;
  items_.push_back(item);
  items_.back().ticked = true;
  if (std::find(order_.begin(), order_.end(), item.account) == order_.end()) order_.push_back(item.account);
  notify();
}

void MailPreviewList::Handled(const std::string& account, const std::string& key) {
  const auto before = items_.size();
  std::erase_if(items_, [&](const TMailPreviewItem& i) { return i.account == account && i.fileName == key; });
  if (items_.size() != before) notify();
}

std::vector<std::string> MailPreviewList::Accounts() const {
  std::vector<std::string> out;
  for (const auto& a : order_)
    if (std::any_of(items_.begin(), items_.end(), [&](const TMailPreviewItem& i) { return i.account == a; }))
      out.push_back(a);
  return out;
}

std::vector<const TMailPreviewItem*> MailPreviewList::Rows(const std::string& account) const {
  std::vector<const TMailPreviewItem*> out;
  for (const auto& i : items_)
    if (i.account == account) out.push_back(&i);
  std::stable_sort(out.begin(), out.end(), [](const TMailPreviewItem* a, const TMailPreviewItem* b) {
    if (a->date != b->date) return a->date < b->date;
    return CompareText(a->partKey, b->partKey) < 0;
  });
  return out;
}

void MailPreviewList::SetTicked(const std::string& account, const std::string& key, bool ticked) {
  for (auto& i : items_)
    if (i.account == account && i.fileName == key && i.ticked != ticked) {
      i.ticked = ticked;
      notify();
    }
}

void MailPreviewList::TickAll(const std::string& account, bool ticked) {
  for (auto& i : items_)
    if (i.account == account) i.ticked = ticked;
  notify();
}

bool MailPreviewList::AnyTicked(const std::string& account) const {
  return std::any_of(items_.begin(), items_.end(),
                     [&](const TMailPreviewItem& i) { return i.account == account && i.ticked; });
}

std::vector<TMailPreviewItem> MailPreviewList::Ticked(const std::string& account) const {
  std::vector<TMailPreviewItem> out;
  for (const TMailPreviewItem* i : Rows(account))
    if (i->ticked) out.push_back(*i);
  return out;
}

std::vector<std::string> MailPreviewList::BlockTicked(const std::string& account, BlockedSenders& blocked) {
  std::vector<std::string> out;
  const auto rows = Rows(account);
  std::vector<std::string> gone;
  for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
    const TMailPreviewItem& i = **it;
    if (!i.ticked) continue;
    const std::string form = blocked.Block(PreviewSender(i));
    if (!form.empty() && std::find(out.begin(), out.end(), form) == out.end()) out.push_back(form);
    gone.push_back(i.fileName);
  }
  std::erase_if(items_, [&](const TMailPreviewItem& i) {
    return i.account == account && std::find(gone.begin(), gone.end(), i.fileName) != gone.end();
  });
  if (!gone.empty()) notify();
  return out;
}

namespace {
std::string Decoded(const std::string& text, const std::string& rowCharset) {
  std::string raw = rowCharset.empty() || SameText(rowCharset, "UTF-8") ? text : DecodeFromCharset(text, rowCharset);
  std::string charset;
  std::string out = mailformat::DecodeEncodedWords(raw, &charset);
  if (!charset.empty() && !SameText(charset, "UTF-8")) out = DecodeFromCharset(out, charset);
  return out;
}
}  // namespace

std::string PreviewSender(const TMailPreviewItem& item) { return Decoded(item.sender, item.charset); }
std::string PreviewSubject(const TMailPreviewItem& item) { return Decoded(item.subject, item.charset); }

std::string PreviewReceived(const TMailPreviewItem& item) {
  if (item.date == 0) return {};
  return QLocale().toString(DateTimeToQDateTime(item.date), QLocale::ShortFormat).toStdString();
}

std::string PreviewSize(int64_t size) { return transport::pop3::PreviewSizeText(std::max<int64_t>(size, 0)); }

std::string PreviewBlockedText(const std::vector<std::string>& forms) {
  std::string who;
  if (forms.size() == 1) {
    who = forms[0];
  } else {
    who = "\r";
    for (const auto& f : forms) who += "     " + f + "\r";
  }
  return BlockNotice(who);
}

}  // namespace px::incoming
