// plumadex: the desktop program.
#include "app/desk_parts_glue.h"
#include "compose/ui/mail_web_view.h"
#include "desk/desk_state.h"
#include "desk/ui/frm_desk.h"
#include "foundation/ui/message_box_presenter.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Qt aborts without a display; say so in one line instead.
bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool x11 = std::getenv("DISPLAY") && *std::getenv("DISPLAY");
  const bool wayland = std::getenv("WAYLAND_DISPLAY") && *std::getenv("WAYLAND_DISPLAY");
  if (platform && *platform) {
    if (std::strncmp(platform, "xcb", 3) == 0) return x11;
    if (std::strncmp(platform, "wayland", 7) == 0) return wayland;
    return true;  // offscreen, vnc, ...
  }
  return x11 || wayland;
}

// SIGTERM (logout, shutdown) and SIGINT end the run through the normal shutdown, so the lists
// and settings are saved and the temporary folder is removed.
int g_signalPipe[2] = {-1, -1};

void OnTerminateSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[0], &c, 1);
}

void InstallTerminateHandler(QObject* parent, px::desk::DeskState& state) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[1], QSocketNotifier::Read, parent);
  QObject::connect(notifier, &QSocketNotifier::activated, parent, [&state] {
    char c;
    [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[1], &c, 1);
    // The session is ending: no close query, no message waits for an answer.
    state.closing = true;
    state.messages.Clear();
    if (auto* presenter = state.messages.Presenter()) presenter->CloseBox();
    QApplication::exit(0);
  });
  struct sigaction sa {};
  sa.sa_handler = OnTerminateSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (!HaveDisplay()) {
    std::fprintf(stderr, "plumadex: no display (set DISPLAY or WAYLAND_DISPLAY to start the desk)\n");
    return 1;
  }
  // Before the application and its web engine start: as root, without Chromium's sandbox.
  px::compose::ui::PrepareWebEngineForUser();
  // The message window's web view shares its graphics context with the rest of the program.
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Plumadex"));
  QApplication::setOrganizationName(QStringLiteral("Kavenstow"));
  QApplication::setQuitOnLastWindowClosed(true);

  px::desk::DeskState state;
  for (int i = 1; i < argc; ++i) state.arguments.emplace_back(argv[i]);
  px::ui::MessageBoxPresenter presenter;
  state.messages.SetPresenter(&presenter);
  px::ui::ShowFromEventLoop(state.messages, &app);

  px::desk::DeskOptions options;
  options.eventLog = qEnvironmentVariable("PLUMADEX_EVENT_LOG").toStdString();
  px::desk::TfrmDesk desk(state, std::move(options));
  if (!px::app::AssembleDesk(desk, state)) {
    state.messages.ShowQueuedMessages();
    return 0;
  }
  InstallTerminateHandler(&desk, state);
  desk.showMaximized();
  const int rc = app.exec();
  state.messages.SetWakeUp(nullptr);
  state.messages.SetPresenter(nullptr);
  return rc;
}
