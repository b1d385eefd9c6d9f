#pragma once
// The window registry's folder: one entry per registered window, made of
// "<pid>-<random>.sock" (the window's listening Unix domain socket) and
// "<pid>-<random>.id" (an entry file holding one frame: a tag, the class and
// the title). A socket is bound under a ".new" name and renamed into place
// only once it listens and its entry file exists, so a ".sock" nobody listens
// on always belongs to a dead program. Entries left by dead programs are
// removed whenever the folder is looked through.
#include <string>
#include <vector>

#include "platform/handle.h"

namespace korva::platform::posix {

// The folder, created when missing and ours alone; empty, and `error` says
// why, when it cannot be used.
std::string RegistryFolder(std::string& error);

struct WindowEntry {
  std::string folder;
  std::string name;  // "<pid>-<random>"

  // A new entry of this process in the folder.
  static WindowEntry New(const std::string& folder);
  std::string SocketPath() const;
  std::string PendingSocketPath() const;
  std::string EntryPath() const;
};

// Readers see the old entry file or the new one, never half of one. Throws
// FileSystemError.
void WriteEntryFile(const WindowEntry& entry, const std::string& className,
                    const std::string& title);

// A listening Unix domain socket bound to the path; `error` says why not.
OwnedHandle ListenAt(const std::string& path, std::string& error);
// Connects to the window's socket without waiting for the window: the
// system queues the connection. Unopened when nobody listens there.
OwnedHandle ConnectToWindow(const std::string& socketPath);

// The sockets of live windows with exactly that class and title.
std::vector<std::string> MatchingSockets(const std::string& className, const std::string& title);

}  // namespace korva::platform::posix
