// Change events of the entries of one folder, from the file system (inotify on Linux). Not every
// file system sends them (network shares often do not): users check by other means too.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/handle.h"

namespace ringolan::platform {

class Wakeup;

class FolderWatch {
public:
    // nullptr when the system gives no change events.
    static std::unique_ptr<FolderWatch> create();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches folder from now on instead of the previous one; false when it cannot be watched
    // (it does not exist, say).
    bool watch(const std::filesystem::path& folder);
    // False before watch() succeeded and after the folder went away.
    bool watching() const { return watch_ >= 0; }
    // Takes the pending events without waiting; true when one concerns the entry called name
    // (written, created, removed, renamed, attributes changed) or the folder itself went away.
    bool take_events(const std::string& name);
    NativeHandle handle() const { return handle_; }

private:
    explicit FolderWatch(NativeHandle handle) : handle_(handle) {}
    NativeHandle handle_;
    int watch_ = -1;
};

struct Woken {
    bool by_wakeup = false;
    bool by_events = false;  // events of the watch are pending
};

// Waits up to timeout for the wakeup's signal (then cleared) or events of watch (may be null).
Woken wait_for_change(const Wakeup& wakeup, const FolderWatch* watch, std::chrono::milliseconds timeout);

}  // namespace ringolan::platform
