// LObj allocates every object of the system from the block allocator.
#include "base/obj.h"

#include <climits>

#include "base/block.h"
#include "base/msg.h"

void* LObj::operator new(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX / 2)) internalError("object too large");
    return blockAlloc(static_cast<int>(size));
}

void LObj::operator delete(void* p) noexcept { blockFree(p); }
