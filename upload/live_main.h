// ringolan-upload --follow: live publishing without a window (live_publisher.h).
#pragma once

namespace ringolan::upload {

// True when the arguments ask for --follow.
bool wants_follow(int argc, char** argv);

// Runs live publishing until SIGINT or SIGTERM; the exit code.
int follow_main(int argc, char** argv);

}  // namespace ringolan::upload
