// Captures what this process writes to its standard error (its own code and the libraries') in
// memory, for a while.
#pragma once

#include <string>

#include "platform/handle.h"

namespace ringolan::platform {

class StderrCapture {
public:
    // Starts capturing; when that is impossible, active() is false and nothing is captured.
    StderrCapture();
    // Ends the capture if finish() was not called.
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    bool active() const { return saved_ != kNoHandle; }
    // Restores the standard error and returns what was written meanwhile.
    std::string finish();

private:
    NativeHandle memory_ = kNoHandle;  // where the output went
    NativeHandle saved_ = kNoHandle;   // the real standard error
};

}  // namespace ringolan::platform
