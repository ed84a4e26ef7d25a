// LObj: the root of every library and application class.
//
// Objects are allocated from the block allocator (operator new/delete below), so
// that every object of the system comes from the same pools as its strings and
// arrays. Objects are never copied: copying is a compile-time error here, where
// the original design could only stop the process at run time.
#pragma once

#include <cstddef>

class LObj {
public:
    LObj() = default;
    virtual ~LObj() = default;
    LObj(const LObj&) = delete;
    LObj& operator=(const LObj&) = delete;

    // Never returns null: an exhausted heap ends the process (internal error).
    static void* operator new(std::size_t size);
    static void operator delete(void* p) noexcept;
};
