// The block allocator: size classes on (request + 4), free lists per pooled
// class carved from 30000-byte arena chunks, large blocks from the C heap.
//
// Every block carries an internal header of kHeader bytes (the requested size
// and its class), so that the address handed out stays aligned for any object;
// the classes and blockRound() keep the documented 4-byte-header arithmetic.
// Built with VESPERLINE_MALLOC_BLOCKS, every block is a malloc of exactly
// header + blockRound(size) bytes, so a sanitizer catches any access past the
// usable bytes; that mode needs no lock of its own.
#include "base/block.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "base/lock.h"
#include "base/msg.h"

namespace {

struct Header {
    int32_t size;  // the requested size
    int32_t cls;   // the size class, -1 for a large block
};

constexpr int kAlign = static_cast<int>(alignof(std::max_align_t));
constexpr int kHeader = (static_cast<int>(sizeof(Header)) + kAlign - 1) / kAlign * kAlign;

Header* headerOf(const void* p) {
    return reinterpret_cast<Header*>(static_cast<char*>(const_cast<void*>(p)) - kHeader);
}

void* userOf(void* raw) { return static_cast<char*>(raw) + kHeader; }

[[noreturn]] void outOfMemory(int size) { internalError("out of memory (block of %d bytes)", size); }

void* heapBlock(int size, int cls) {
    const int usable = blockRound(size);
    void* raw = std::malloc(static_cast<size_t>(kHeader) + static_cast<size_t>(usable));
    if (!raw) outOfMemory(size);
    auto* h = static_cast<Header*>(raw);
    h->size = size;
    h->cls = cls;
    return userOf(raw);
}

#ifndef VESPERLINE_MALLOC_BLOCKS

constexpr int kChunk = 30000;
constexpr int kClasses = 65;

// A free block keeps the link to the next free block of its class in its
// first pointer-sized bytes, which lie inside the header when the class has
// fewer usable bytes than a pointer.
struct FreeLink {
    FreeLink* next;
};
static_assert(sizeof(FreeLink) <= static_cast<size_t>(kHeader), "link must fit the header");

FreeLink* g_free[kClasses];
char* g_chunk;                // the current arena chunk
int g_offset = kChunk;        // next free byte of the current chunk
void* g_chunks;               // every chunk, linked through its first word (kept reachable)

int strideOf(int usable) { return kHeader + (usable + kAlign - 1) / kAlign * kAlign; }

void* arenaBlock(int stride) {
    if (stride > kChunk - g_offset) {
        char* chunk = static_cast<char*>(std::malloc(kChunk));
        if (!chunk) outOfMemory(stride);
        *reinterpret_cast<void**>(chunk) = g_chunks;
        g_chunks = chunk;
        g_chunk = chunk;
        g_offset = kAlign;  // the link to the previous chunk
    }
    void* raw = g_chunk + g_offset;
    g_offset += stride;
    return raw;
}

#endif

}  // namespace

int blockClass(int n) {
    if (n < 0) n = 0;
    const int64_t total = static_cast<int64_t>(n) + 4;
    if (total <= 64) return static_cast<int>((total + 3) / 4);
    if (total <= 256) return 16 + static_cast<int>((total + 15) / 16);
    if (total <= 1024) return 32 + static_cast<int>((total + 63) / 64);
    if (total <= 4096) return 48 + static_cast<int>((total + 255) / 256);
    return -1;
}

int blockRound(int n) {
    if (n < 0) n = 0;
    const int64_t total = static_cast<int64_t>(n) + 4;
    int64_t unit = 4096;
    if (total <= 64) unit = 4;
    else if (total <= 256) unit = 16;
    else if (total <= 1024) unit = 64;
    else if (total <= 4096) unit = 256;
    const int64_t rounded = (total + unit - 1) / unit * unit - 4;
    if (rounded > INT32_MAX - 64) internalError("block request too large (%d bytes)", n);
    return static_cast<int>(rounded);
}

int blockSize(const void* p) { return p ? headerOf(p)->size : 0; }

#ifdef VESPERLINE_MALLOC_BLOCKS

void* blockAlloc(int size) {
    if (size < 0) size = 0;
    return heapBlock(size, blockClass(size));
}

void blockFree(void* p) {
    if (p) std::free(headerOf(p));
}

#else

void* blockAlloc(int size) {
    if (size < 0) size = 0;
    const int cls = blockClass(size);
    if (cls < 0) return heapBlock(size, cls);
    LLockGuard guard;
    void* raw;
    if (FreeLink* link = g_free[cls]) {
        g_free[cls] = link->next;
        raw = link;
    } else {
        raw = arenaBlock(strideOf(blockRound(size)));
    }
    auto* h = static_cast<Header*>(raw);
    h->size = size;
    h->cls = cls;
    return userOf(raw);
}

void blockFree(void* p) {
    if (!p) return;
    Header* h = headerOf(p);
    const int cls = h->cls;
    if (cls < 0) {
        std::free(h);
        return;
    }
    LLockGuard guard;
    auto* link = reinterpret_cast<FreeLink*>(h);
    link->next = g_free[cls];
    g_free[cls] = link;
}

#endif
