// The block allocator: every string buffer, array buffer and object of the
// system comes from here.
//
// Requests are mapped to size classes on (request + 4), the documented header
// size, so blockRound() keeps its documented values (blockRound(0) = 0,
// blockRound(1) = 4, blockRound(60) = 60, blockRound(61) = 76, blockRound(4092) =
// 4092, blockRound(4093) = 8188). Internally the header is larger so that every
// block is aligned for any object (alignof(std::max_align_t)).
//
// Classes up to 4092 usable bytes are pooled: a free list per class, carved from
// 30000-byte arena chunks that are never given back. Larger blocks come from and
// return to the C heap. All of it runs under g_libLock.
//
// Built with VESPERLINE_MALLOC_BLOCKS the allocator hands every block to plain
// malloc/free instead (same API, same blockSize/blockRound), so that
// AddressSanitizer and valgrind see every block and every overrun.
#pragma once

#include <memory>

// Returns a block with at least blockRound(size) usable bytes; never null (an
// exhausted heap ends the process with an internal error). size >= 0.
void* blockAlloc(int size);

// Frees a block from blockAlloc; null is ignored.
void blockFree(void* p);

// The size that was requested for the block p.
int blockSize(const void* p);

// The usable bytes of the size class that a request of n bytes falls in.
int blockRound(int n);

// The size class of a request of n bytes: 1..64 for pooled classes, -1 above.
int blockClass(int n);

// Frees a block through std::unique_ptr: BlockPtr<char> owns a char block.
struct BlockDeleter {
    void operator()(void* p) const { blockFree(p); }
};
template <class T>
using BlockPtr = std::unique_ptr<T, BlockDeleter>;

// A new block of n bytes as an owning pointer.
inline BlockPtr<char> blockAllocOwned(int n) { return BlockPtr<char>(static_cast<char*>(blockAlloc(n))); }
