#include "platform/stderr_capture.h"

#include <unistd.h>

#include <cstdio>
#include <utility>

#include "platform/memory_file.h"

namespace ringolan::platform {

StderrCapture::StderrCapture() {
    memory_ = create_memory_file("stderr-capture");
    if (memory_ == kNoHandle) return;
    const int saved = ::dup(STDERR_FILENO);
    if (saved < 0) {
        ::close(int(std::exchange(memory_, kNoHandle)));
        return;
    }
    saved_ = saved;
    std::fflush(stderr);
    ::dup2(int(memory_), STDERR_FILENO);
}

StderrCapture::~StderrCapture() { finish(); }

std::string StderrCapture::finish() {
    if (!active()) return {};
    std::fflush(stderr);
    ::dup2(int(saved_), STDERR_FILENO);
    ::close(int(std::exchange(saved_, kNoHandle)));
    std::string text;
    char buf[4096];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(int(memory_), buf, sizeof buf, at);
        if (n <= 0) break;
        text.append(buf, size_t(n));
        at += n;
    }
    ::close(int(std::exchange(memory_, kNoHandle)));
    return text;
}

}  // namespace ringolan::platform
