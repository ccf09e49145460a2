// Settings of the C library's heap for a process that builds one large structure of many small
// blocks, once or again and again (the snapshot reader).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ringolan::platform {

// Makes the heap grow in large steps and keeps what it freed for the next build.
void tune_heap_for_large_build();

// Asks for large pages behind the whole 2 MiB steps of a fresh block that is about to be filled
// (an image of tens of megabytes): far fewer page faults, which cost dearly in some virtual
// machines. Does nothing where the system has no such advice.
void advise_large_pages(void* block, std::size_t bytes);

// "NAME=value" settings for such a child's environment (large pages for its heap), if any.
std::vector<std::string> large_heap_environment();

}  // namespace ringolan::platform
