#include "common/memoryreuse.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long ResidentBytes() {
    long size = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return -1;
    const int read = std::fscanf(statm, "%ld %ld", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * sysconf(_SC_PAGESIZE) : -1;
}

// A freed block between live ones stays resident for the next survey until
// the opening gives it back.
TEST(MemoryReuse, AFreedBlockIsKeptUntilGivenBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's allocator keeps and returns memory by its own rules";
#endif
    constexpr std::size_t kBlock = 64 << 20;
    constexpr long kMost = 48 << 20;  // of the block's pages
    qgrad::KeepFreedMemoryForReuse();
    char* block = static_cast<char*>(std::malloc(kBlock));
    ASSERT_NE(block, nullptr);
    char* after = static_cast<char*>(std::malloc(4096));  // keeps the block off the heap's top
    ASSERT_NE(after, nullptr);
    const long before = ResidentBytes();
    std::memset(block, 1, kBlock);
    const long touched = ResidentBytes();
    ASSERT_GT(touched - before, kMost);
    std::free(block);
    const long freed = ResidentBytes();
    EXPECT_GT(freed - before, kMost) << "the freed block was handed back at once";
    qgrad::GiveBackFreedMemory();
    EXPECT_LT(ResidentBytes() - before, touched - before - kMost) << "the freed block is still resident";
    std::free(after);
}

}  // namespace
