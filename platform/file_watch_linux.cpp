#include "platform/file_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "platform/wakeup.h"

namespace ringolan::platform {

std::unique_ptr<FolderWatch> FolderWatch::create() {
    const int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::unique_ptr<FolderWatch>(new FolderWatch(fd));
}

FolderWatch::~FolderWatch() { ::close(int(handle_)); }

bool FolderWatch::watch(const std::filesystem::path& folder) {
    if (watch_ >= 0) ::inotify_rm_watch(int(handle_), watch_);
    // Writers often replace a file (rename over it): the folder's entries tell that, the file not.
    watch_ = ::inotify_add_watch(int(handle_), folder.c_str(),
                                 IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                                     IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF);
    return watch_ >= 0;
}

bool FolderWatch::take_events(const std::string& name) {
    bool hit = false;
    alignas(struct inotify_event) char buf[8192];
    for (;;) {
        const ssize_t n = ::read(int(handle_), buf, sizeof buf);
        if (n <= 0) break;
        for (ssize_t off = 0; off < n;) {
            const auto* ev = reinterpret_cast<const struct inotify_event*>(buf + off);
            if (ev->wd == watch_) {
                if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                    hit = true;
                    if (ev->mask & IN_IGNORED) watch_ = -1;  // folder gone: watch again when it is back
                } else if (ev->len > 0 && name == ev->name) {
                    hit = true;
                }
            }
            off += ssize_t(sizeof(struct inotify_event) + ev->len);
        }
    }
    return hit;
}

Woken wait_for_change(const Wakeup& wakeup, const FolderWatch* watch, std::chrono::milliseconds timeout) {
    struct pollfd fds[2] = {{int(wakeup.handle()), POLLIN, 0}, {watch ? int(watch->handle()) : -1, POLLIN, 0}};
    Woken woken;
    if (::poll(fds, watch ? 2 : 1, int(timeout.count())) <= 0) return woken;
    woken.by_wakeup = fds[0].revents & POLLIN;
    woken.by_events = watch && (fds[1].revents & POLLIN);
    if (woken.by_wakeup) wakeup.clear();
    return woken;
}

}  // namespace ringolan::platform
