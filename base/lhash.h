// LHashTable: a string-keyed hash table with a fixed number of buckets (every
// table of this system has 256).
//
// Each used bucket is an LArray of entries, created on the first insertion into
// it. An entry is either a char* key itself (the string set) or a pointer to a
// record whose first member is its const char* key (the record map; the record
// must be standard-layout). The table never owns keys or records. collect()
// goes bucket by bucket in bucket order, each bucket in insertion order: that is
// the listing order of every table of the system.
#pragma once

#include <cstdint>

#include "base/larray.h"

// 0 for a null or empty key; otherwise the sum of each unsigned byte times
// W[i mod 169], in wrapping 32-bit arithmetic (W: 1, 23, 13, 2, 17, 3, 5, 7, 11,
// 19, then the primes 29..997).
uint32_t hash(const char* key);

// -1, 0 or 1, comparing bytes as unsigned values; null equals only null.
int compareStrings(const char* a, const char* b);

class LHashTable {
public:
    explicit LHashTable(int nBuckets = 256);
    ~LHashTable();  // frees the bucket arrays, not the entries
    LHashTable(const LHashTable&) = delete;
    LHashTable& operator=(const LHashTable&) = delete;

    int count() const { return count_; }
    int nBuckets() const { return nBuckets_; }

    // String set: entries are the key pointers themselves.
    void add(const char* key);  // duplicates allowed
    bool contains(const char* key) const;
    const char* remove(const char* key);  // the first equal entry, or null

    // Record map: entries point to records whose first member is a const char*.
    using Compare = int (*)(const char* a, const char* b);
    void addRecord(void* record);
    void* findRecord(const char* key, Compare compare = compareStrings) const;
    void* removeRecord(const char* key, Compare compare = compareStrings);

    // Appends every entry (key or record pointer) to out, in bucket order.
    void collect(LArray& out) const;

    // Frees every key as a block (string set of owned keys) and empties the table.
    void clearKeys();
    // Empties the table without touching the entries.
    void clear();

private:
    static const char* keyOf(intptr_t entry, bool record);
    int indexOf(const char* key) const { return static_cast<int>(hash(key) % static_cast<uint32_t>(nBuckets_)); }
    // The bucket of key, or null while it is unused.
    const LArray* bucketOf(const char* key) const { return buckets_[indexOf(key)]; }
    LArray* bucketOf(const char* key) { return buckets_[indexOf(key)]; }
    // The bucket of key, created when it is unused.
    LArray& bucketFor(const char* key);
    LArray** buckets_;
    int nBuckets_;
    int count_;
};
