// LHashTable: fixed bucket vector, each used bucket an LArray of entries in
// insertion order; the weighted byte-sum hash of the system.
#include "base/lhash.h"

#include <new>

#include "base/block.h"

namespace {

// W[0] = 1, then 23, 13, 2, 17, 3, 5, 7, 11, 19, then the primes 29..997: every
// prime below 1000 once.
struct Weights {
    uint32_t w[169];
    constexpr Weights() : w() {
        const uint32_t head[10] = {1, 23, 13, 2, 17, 3, 5, 7, 11, 19};
        int n = 0;
        for (uint32_t v : head) w[n++] = v;
        for (uint32_t p = 29; p < 1000; ++p) {
            bool prime = true;
            for (uint32_t d = 2; d * d <= p; ++d) {
                if (p % d == 0) {
                    prime = false;
                    break;
                }
            }
            if (prime) w[n++] = p;
        }
    }
};

constexpr Weights kWeights;
static_assert(kWeights.w[10] == 29 && kWeights.w[168] == 997, "169 weights ending at 997");

LArray* newBucket() { return new (blockAlloc(sizeof(LArray))) LArray(); }

void deleteBucket(LArray* b) {
    b->~LArray();
    blockFree(b);
}

}  // namespace

uint32_t hash(const char* key) {
    if (!key) return 0;
    uint32_t sum = 0;
    int i = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(key); *p; ++p) {
        sum += static_cast<uint32_t>(*p) * kWeights.w[i];
        if (++i == 169) i = 0;
    }
    return sum;
}

int compareStrings(const char* a, const char* b) {
    if (!a || !b) return a == b ? 0 : (a ? 1 : -1);
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && *x == *y) {
        ++x;
        ++y;
    }
    return *x == *y ? 0 : (*x < *y ? -1 : 1);
}

LHashTable::LHashTable(int nBuckets)
    : buckets_(nullptr), nBuckets_(nBuckets > 0 ? nBuckets : 1), count_(0) {
    buckets_ = static_cast<LArray**>(blockAlloc(nBuckets_ * static_cast<int>(sizeof(LArray*))));
    for (int i = 0; i < nBuckets_; ++i) buckets_[i] = nullptr;
}

LHashTable::~LHashTable() {
    clear();
    blockFree(buckets_);
}

const char* LHashTable::keyOf(intptr_t entry, bool record) {
    if (record) return *reinterpret_cast<const char* const*>(entry);
    return reinterpret_cast<const char*>(entry);
}

LArray& LHashTable::bucketFor(const char* key) {
    LArray*& slot = buckets_[indexOf(key)];
    if (!slot) slot = newBucket();
    return *slot;
}

void LHashTable::add(const char* key) {
    bucketFor(key).add(reinterpret_cast<intptr_t>(key));
    ++count_;
}

bool LHashTable::contains(const char* key) const {
    const LArray* b = bucketOf(key);
    if (!b) return false;
    for (int i = 0; i < b->count(); ++i) {
        if (compareStrings(keyOf((*b)[i], false), key) == 0) return true;
    }
    return false;
}

const char* LHashTable::remove(const char* key) {
    LArray* b = bucketOf(key);
    if (!b) return nullptr;
    for (int i = 0; i < b->count(); ++i) {
        const char* k = keyOf((*b)[i], false);
        if (compareStrings(k, key) == 0) {
            b->removeAt(i);
            --count_;
            return k;
        }
    }
    return nullptr;
}

void LHashTable::addRecord(void* record) {
    bucketFor(keyOf(reinterpret_cast<intptr_t>(record), true)).add(reinterpret_cast<intptr_t>(record));
    ++count_;
}

void* LHashTable::findRecord(const char* key, Compare compare) const {
    const LArray* b = bucketOf(key);
    if (!b) return nullptr;
    for (int i = 0; i < b->count(); ++i) {
        if (compare(keyOf((*b)[i], true), key) == 0) return reinterpret_cast<void*>((*b)[i]);
    }
    return nullptr;
}

void* LHashTable::removeRecord(const char* key, Compare compare) {
    LArray* b = bucketOf(key);
    if (!b) return nullptr;
    for (int i = 0; i < b->count(); ++i) {
        if (compare(keyOf((*b)[i], true), key) == 0) {
            void* record = reinterpret_cast<void*>((*b)[i]);
            b->removeAt(i);
            --count_;
            return record;
        }
    }
    return nullptr;
}

void LHashTable::collect(LArray& out) const {
    for (int i = 0; i < nBuckets_; ++i) {
        if (buckets_[i]) out.addAll(buckets_[i]->data(), buckets_[i]->count());
    }
}

void LHashTable::clearKeys() {
    for (int i = 0; i < nBuckets_; ++i) {
        if (buckets_[i]) buckets_[i]->clearAndFree();
    }
    clear();
}

void LHashTable::clear() {
    for (int i = 0; i < nBuckets_; ++i) {
        if (buckets_[i]) {
            deleteBucket(buckets_[i]);
            buckets_[i] = nullptr;
        }
    }
    count_ = 0;
}
