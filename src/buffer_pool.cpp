#include "buffer_pool.hpp"

#include <algorithm>
#include <array>
#include <mutex>

#include "interrupt.hpp"

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#define HYDROKIT_HAS_MMAP 1
#endif
#if __has_include(<pthread.h>)
#include <pthread.h>
#define HYDROKIT_HAS_PTHREAD_ATFORK 1
#endif

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define HYDROKIT_POISON(address, bytes) ASAN_POISON_MEMORY_REGION(address, bytes)
#define HYDROKIT_UNPOISON(address, bytes) ASAN_UNPOISON_MEMORY_REGION(address, bytes)
// A poisoned page after every block catches reads past its end.
constexpr size_t guard_bytes = 4096;
#else
#define HYDROKIT_POISON(address, bytes) ((void)(address), (void)(bytes))
#define HYDROKIT_UNPOISON(address, bytes) ((void)(address), (void)(bytes))
constexpr size_t guard_bytes = 0;
#endif

namespace hydrokit {

namespace {

constexpr size_t page_bytes = 4096;
constexpr size_t huge_page_bytes = size_t{2} << 20;
// At most this many idle buffers, so that a search stays a handful of comparisons.
constexpr size_t most_kept_buffers = 16;

// The whole pages that hold `count` values.
size_t block_bytes(size_t count) {
    return (count * sizeof(double) + page_bytes - 1) / page_bytes * page_bytes;
}

struct Block {
    void* address = nullptr;
    size_t bytes = 0;
};

class Pool {
  public:
    // A kept block of exactly `bytes`, or null.
    void* take(size_t bytes) {
        const std::lock_guard guard(lock_);
        for (size_t i = count_; i-- > 0;) {
            if (blocks_[i].bytes != bytes) continue;
            void* address = blocks_[i].address;
            remove(i);
            return address;
        }
        return nullptr;
    }

    // Keeps `block`, of at most `most_kept_bytes`; returns the blocks that no longer fit,
    // oldest first, for the caller to unmap outside the lock.
    std::array<Block, most_kept_buffers> keep(Block block) {
        std::array<Block, most_kept_buffers> dropped{};
        size_t dropped_count = 0;
        const std::lock_guard guard(lock_);
        while (count_ == most_kept_buffers || bytes_ + block.bytes > most_kept_bytes) {
            dropped[dropped_count++] = blocks_[0];
            remove(0);
        }
        blocks_[count_++] = block;
        bytes_ += block.bytes;
        return dropped;
    }

    void lock() { lock_.lock(); }
    void unlock() { lock_.unlock(); }

  private:
    void remove(size_t index) {
        bytes_ -= blocks_[index].bytes;
        for (size_t i = index + 1; i < count_; ++i) blocks_[i - 1] = blocks_[i];
        --count_;
    }

    std::mutex lock_;
    // Oldest first: when the pool is full, the block that waited longest goes.
    std::array<Block, most_kept_buffers> blocks_{};
    size_t count_ = 0;
    size_t bytes_ = 0;
};

Pool& pool();

// Made when the library is loaded, before any thread can ask for a buffer or fork: a pool made on
// first use could be half made in a child forked meanwhile, which would then wait for it forever.
// Never destroyed: a series that dies while the process exits may still give its block back.
Pool* make_pool() {
    Pool* made = new Pool;
#if HYDROKIT_HAS_PTHREAD_ATFORK
    // A process forked while another thread holds the lock would find it held forever: the
    // fork waits for the lock, and both sides let go of it afterwards.
    pthread_atfork([] { pool().lock(); }, [] { pool().unlock(); }, [] { pool().unlock(); });
#endif
    return made;
}

Pool* const shared_pool = make_pool();

Pool& pool() {
    return *shared_pool;
}

// Fresh pages for `bytes` (and the guard after them), from the kernel where it lends them
// directly; null when there is no memory.
void* map_block(size_t bytes) {
#if HYDROKIT_HAS_MMAP
    void* address = mmap(nullptr, bytes + guard_bytes, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) return nullptr;
#if defined(MADV_HUGEPAGE)
    // Where the kernel offers transparent huge pages on request, a fresh buffer faults once per
    // 2 MiB instead of once per 4 KiB. Refusal changes nothing but the speed.
    if (bytes >= huge_page_bytes) madvise(address, bytes, MADV_HUGEPAGE);
#endif
    return address;
#else
    return ::operator new(bytes + guard_bytes, std::align_val_t{page_bytes}, std::nothrow);
#endif
}

// Unmaps `block`, whose bytes from `poisoned_from` on may be poisoned: the kernel may hand the
// same addresses to the next mapping, which must start out addressable.
void unmap(Block block, size_t poisoned_from = 0) {
    if (block.address == nullptr) return;
    HYDROKIT_UNPOISON(static_cast<char*>(block.address) + poisoned_from,
                      block.bytes - poisoned_from + guard_bytes);
#if HYDROKIT_HAS_MMAP
    munmap(block.address, block.bytes + guard_bytes);
#else
    ::operator delete(block.address, std::align_val_t{page_bytes});
#endif
}

}  // namespace

double* BufferAllocator::allocate(size_t count) {
    if (count > std::allocator_traits<std::allocator<double>>::max_size({})) {
        throw std::bad_array_new_length();
    }
    if (count < smallest_pooled_values) {
        return static_cast<double*>(::operator new(count * sizeof(double)));
    }
    const size_t bytes = block_bytes(count);
    const size_t used = count * sizeof(double);
    if (void* kept = pool().take(bytes)) {
        HYDROKIT_UNPOISON(kept, used);
        return static_cast<double*>(kept);
    }
    void* address = map_block(bytes);
    if (address == nullptr) throw std::bad_alloc();
    HYDROKIT_POISON(static_cast<char*>(address) + used, bytes - used + guard_bytes);
    return static_cast<double*>(address);
}

void BufferAllocator::deallocate(double* values, size_t count) noexcept {
    if (count < smallest_pooled_values) {
        ::operator delete(values, count * sizeof(double));
        return;
    }
    const size_t bytes = block_bytes(count);
    if (bytes > most_kept_bytes) {
        unmap({values, bytes}, count * sizeof(double));
        return;
    }
    // An idle block is poisoned, before another thread can take it: any read of it is a read
    // of freed memory.
    HYDROKIT_POISON(values, bytes);
    for (Block dropped : pool().keep({values, bytes})) unmap(dropped);
}

Values reserved_values(size_t capacity) {
    Values values;
    values.reserve(capacity);
    return values;
}

Values zeroed_values(size_t count) {
    return Values(count, 0.0);
}

Values values_to_overwrite(size_t count) {
    Values values;
    values.resize(count);
    return values;
}

Values copied_values(std::span<const double> values) {
    Values copy = values_to_overwrite(values.size());
    in_blocks(values.size(), interrupt_interval, [&](size_t begin, size_t end) {
        std::copy(values.begin() + begin, values.begin() + end, copy.begin() + begin);
    });
    return copy;
}

void fit_capacity(Values& values) {
    if (values.capacity() == values.size()) return;
    Values fitted = reserved_values(values.size());
    fitted.assign(values.begin(), values.end());
    values = std::move(fitted);
}

}  // namespace hydrokit
