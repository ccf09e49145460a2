#include "platform/memory_map.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_file.h"
#include "platform/process.h"

using namespace ringolan::platform;

// What the reader hands the server: a memory file sealed after writing, mapped read-only.
TEST(SealedMemoryFile, CannotChangeOnceSealedAndMapsItsBytes) {
    const std::string bytes(10000, 'r');
    const NativeHandle file = create_memory_file("test");
    ASSERT_NE(file, kNoHandle);
    ASSERT_TRUE(write_channel(file, bytes.data(), bytes.size()));
    EXPECT_FALSE(is_sealed_memory_file(file));
    ASSERT_TRUE(seal_memory_file(file));
    EXPECT_TRUE(is_sealed_memory_file(file));
    EXPECT_FALSE(write_channel(file, "x", 1));  // no more writes
    const auto map = MemoryMap::of_handle(file, bytes.size());
    ASSERT_TRUE(map);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(map->data()), map->size()), bytes);

    // More bytes than the file has: no mapping (reading beyond its end would kill the process).
    const NativeHandle short_file = create_memory_file("short");
    ASSERT_TRUE(write_channel(short_file, "abc", 3));
    EXPECT_FALSE(MemoryMap::of_handle(short_file, 4));
    EXPECT_FALSE(MemoryMap::of_handle(kNoHandle, 4));
}
