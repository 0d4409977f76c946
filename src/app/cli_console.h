#pragma once
// Messages of headless commands go to stderr, one line per message box.
#include "app/cli_commands.h"
#include "foundation/message_queue.h"

#include <cstdio>
#include <string>

namespace px::cli {

class StderrPresenter final : public MessagePresenter {
public:
  void ShowBox(MessageKind kind, const std::string& text) override {
    std::string_view v = text;
    if (!v.empty() && v[0] == '\x13') v.remove_prefix(1);  // the coded-notice mark
    const std::string t = ForConsole(v);
    const char* what = kind == MessageKind::Error ? "error" : kind == MessageKind::Warning ? "warning" : "note";
    std::fprintf(stderr, "plumadex-cli: %s: %s\n", what, t.c_str());
  }
  void CloseBox() override {}
};

// A command has no event loop and no timers: its messages are printed as soon as they are queued.
inline void PrintAsQueued(MessageQueue& messages) {
  messages.SetWakeUp([&messages] { messages.ShowQueuedMessages(); });
}

}  // namespace px::cli
