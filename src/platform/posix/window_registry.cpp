#include "platform/window_registry.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <string_view>

#include "platform/posix/system_error.h"
#include "platform/posix/window_frames.h"
#include "platform/posix/window_registry_folder.h"

namespace korva::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
using posix::WindowEntry;

// A request is one small frame written right after connecting; a peer that
// takes longer is dropped so that it cannot stall the window.
constexpr std::chrono::milliseconds kRequestReadTimeout{250};

constexpr std::string_view kVerbClose = "close";
constexpr std::string_view kAnswerClosed = "closed";
constexpr std::string_view kAnswerOther = "other";

void Answer(const OwnedHandle& connection, std::string_view answer) {
  posix::WriteFrame(connection.Get(), posix::EncodeFrame({answer}),
                    SteadyClock::now() + kRequestReadTimeout);
}

}  // namespace

struct RegisteredWindow::State : RegisteredWindow::Names {
  WindowEntry entry;
  OwnedHandle listener;
  bool registered = false;
  bool gone = false;  // the RegisteredWindow was destroyed
  bool serving = false;
  struct Request {
    OwnedHandle connection;
    posix::Fields fields;
  };
  std::deque<Request> queue;

  void Register() {
    const std::string folder = posix::RegistryFolder(error);
    if (folder.empty()) return;
    entry = WindowEntry::New(folder);
    const std::string pending = entry.PendingSocketPath();
    listener = posix::ListenAt(pending, error);
    if (!listener.IsOpen()) return;
    try {
      posix::WriteEntryFile(entry, className, title);
      if (::rename(pending.c_str(), entry.SocketPath().c_str()) != 0) {
        posix::ThrowFileError(entry.SocketPath(), errno);
      }
    } catch (const FileSystemError& e) {
      error = "cannot register the window in " + folder + ": " + e.Reason();
      ::unlink(pending.c_str());
      ::unlink(entry.EntryPath().c_str());
      listener.Reset();
      return;
    }
    registered = true;
  }

  void Unregister() {
    if (registered) {
      // Socket first: from then on nobody finds a window that is going away.
      ::unlink(entry.SocketPath().c_str());
      ::unlink(entry.EntryPath().c_str());
      registered = false;
    }
    listener.Reset();
    queue.clear();
  }

  void TakeWaitingRequests() {
    if (!listener.IsOpen()) return;
    for (;;) {
      const int fd = ::accept4(static_cast<int>(listener.Get().Value()), nullptr, nullptr,
                               SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      OwnedHandle connection(NativeHandle(fd), OwnedHandle::Kind::kSocket);
      // Probes from FindWindow close without a word: nothing to keep.
      auto fields = posix::ReadFrame(connection.Get(), SteadyClock::now() + kRequestReadTimeout);
      if (fields && !fields->empty()) queue.push_back({std::move(connection), std::move(*fields)});
    }
  }
};

RegisteredWindow::RegisteredWindow(std::string className, std::string title)
    : state_(std::make_shared<State>()) {
  state_->className = std::move(className);
  state_->title = std::move(title);
  state_->Register();
}

RegisteredWindow::~RegisteredWindow() {
  state_->Unregister();
  state_->gone = true;
}

bool RegisteredWindow::IsRegistered() const {
  return state_->registered;
}
const RegisteredWindow::Names& RegisteredWindow::NamesOf() const {
  return *state_;
}

void RegisteredWindow::SetTitle(std::string title) {
  state_->title = std::move(title);
  if (!state_->registered) return;
  try {
    posix::WriteEntryFile(state_->entry, state_->className, state_->title);
  } catch (const FileSystemError&) {
    state_->error = "cannot update the window's title in " + state_->entry.folder;
  }
}

NativeHandle RegisteredWindow::NotificationHandle() const {
  return state_->listener.Get();
}

void RegisteredWindow::ServeRequests(const std::function<void()>& onClose) {
  // Held here: onClose may destroy the RegisteredWindow, not what we use.
  const std::shared_ptr<State> state = state_;
  state->TakeWaitingRequests();
  if (state->serving) return;
  state->serving = true;
  struct Done {
    State& s;
    ~Done() { s.serving = false; }
  } done{*state};

  while (!state->queue.empty() && !state->gone) {
    State::Request request = std::move(state->queue.front());
    state->queue.pop_front();
    const auto& f = request.fields;
    const bool forUs =
        f.size() == 3 && f[0] == kVerbClose && f[1] == state->className && f[2] == state->title;
    if (!forUs) {
      Answer(request.connection, kAnswerOther);
      continue;
    }
    // The answer goes out after onClose, also when it fails: the sender must
    // not wait for nothing.
    try {
      onClose();
    } catch (...) {
      Answer(request.connection, kAnswerClosed);
      throw;
    }
    Answer(request.connection, kAnswerClosed);
  }
}

bool FindWindow(const std::string& className, const std::string& title) {
  return !posix::MatchingSockets(className, title).empty();
}

bool SendCloseRequest(const std::string& className, const std::string& title,
                      std::chrono::milliseconds timeout) {
  const auto deadline = SteadyClock::now() + timeout;
  for (const std::string& socketPath : posix::MatchingSockets(className, title)) {
    const OwnedHandle connection = posix::ConnectToWindow(socketPath);
    if (!connection.IsOpen()) continue;
    if (!posix::WriteFrame(connection.Get(), posix::EncodeFrame({kVerbClose, className, title}),
                           deadline))
      continue;
    const auto answer = posix::ReadFrame(connection.Get(), deadline);
    if (!answer || answer->empty()) return false;
    if ((*answer)[0] == kAnswerClosed) return true;
    // "other": its title changed since we read its entry; try the next one.
  }
  return false;
}

std::string WindowRegistryFolder() {
  std::string error;
  return posix::RegistryFolder(error);
}

}  // namespace korva::platform
