#include "platform/PackedHeap.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace bw {

namespace {

// A block: one reservation of address space, filled one allocation after the other and never reused. It is kept in
// chunks: at the end of each scope, every chunk that the filling has passed and whose allocations are all freed is
// decommitted, so that a block holds committed only the chunks with something still in use. The block goes whole
// once nothing in it is in use and no scope fills it. Committing and decommitting cost a call into the system each
// (under Wine, far more than an allocation): memory is committed a step of many chunks at a time, and decommitted in
// runs of chunks once a scope is over.
constexpr size_t kChunk = 64 * 1024;
constexpr size_t kCommitStep = 16 * kChunk;
// Address space only. A scope that needs more goes on in the C runtime's heap.
constexpr size_t kReserve = sizeof(void*) == 8 ? size_t(256) << 20 : size_t(32) << 20;
constexpr size_t kChunks = kReserve / kChunk;
constexpr size_t kAlignment = 16; // as the C runtime's malloc gives, for any type that `new` makes
constexpr size_t kBlocks = 32;    // a block with something still in use stays until that goes

struct Block {
    char* used = nullptr;      // filled up to here
    char* committed = nullptr; // committed up to here
    size_t chunk = 0;          // the chunk being filled
    bool filling = true;       // a scope fills it
    std::atomic<long> live{0}; // allocations in use
    std::atomic<long> inChunk[kChunks];
    std::uint32_t spans[kChunks];      // a large allocation that starts at the chunk: its chunks
    std::atomic<bool> passed[kChunks]; // the filling has left the chunk: nothing more comes into it
    bool decommitted[kChunks];         // given back (looked at by the filling thread only, at the end of a scope)
};

std::atomic<Block*> g_blocks[kBlocks];
std::atomic<int> g_held{0};             // blocks held: `delete` looks at them only when there are
std::atomic<Block*> g_filling{nullptr}; // the block that takes the filling thread's allocations
std::atomic<DWORD> g_fillingThread{0};

char* BaseOf(Block* block) {
    return reinterpret_cast<char*>(block);
}

char* ChunkAt(Block* block, size_t chunk) {
    return BaseOf(block) + chunk * kChunk;
}

Block* OwnerOf(const void* object) {
    const char* at = static_cast<const char*>(object);
    for (std::atomic<Block*>& slot : g_blocks) {
        Block* block = slot.load(std::memory_order_acquire);
        if (block != nullptr && at >= BaseOf(block) && at < BaseOf(block) + kReserve) {
            return block;
        }
    }
    return nullptr;
}

// Gives back, in runs, the chunks the filling has passed whose allocations are all freed: nothing comes into them
// again, nor is freed there. On the filling thread only.
void GiveBackFreeChunks(Block* block) {
    const size_t filled = static_cast<size_t>(block->committed - BaseOf(block)) / kChunk;
    size_t run = 0;
    for (size_t chunk = 0; chunk <= filled; ++chunk) {
        const bool free = chunk < filled && !block->decommitted[chunk] &&
                          block->passed[chunk].load(std::memory_order_acquire) &&
                          block->inChunk[chunk].load(std::memory_order_acquire) == 0;
        if (free) {
            block->decommitted[chunk] = true;
            ++run;
        } else if (run > 0) {
            (void)::VirtualFree(ChunkAt(block, chunk - run), run * kChunk, MEM_DECOMMIT);
            run = 0;
        }
    }
}

Block* MakeBlock() {
    void* base = ::VirtualAlloc(nullptr, kReserve, MEM_RESERVE, PAGE_NOACCESS);
    if (base == nullptr) {
        return nullptr;
    }
    constexpr size_t kHead = (sizeof(Block) + kChunk - 1) / kChunk; // chunks the block's own record takes
    if (::VirtualAlloc(base, kHead * kChunk, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
        (void)::VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    Block* block = new (base) Block;
    for (size_t chunk = 0; chunk < kChunks; ++chunk) {
        block->inChunk[chunk].store(chunk < kHead ? 1 : 0, std::memory_order_relaxed); // the record stays
        block->spans[chunk] = 0;
        block->passed[chunk].store(false, std::memory_order_relaxed);
        block->decommitted[chunk] = false;
    }
    block->chunk = kHead - 1;
    block->committed = ChunkAt(block, kHead);
    block->used = BaseOf(block) + (sizeof(Block) + kAlignment - 1) / kAlignment * kAlignment;
    for (std::atomic<Block*>& slot : g_blocks) {
        Block* empty = nullptr;
        if (slot.compare_exchange_strong(empty, block, std::memory_order_release)) {
            g_held.fetch_add(1, std::memory_order_release);
            return block;
        }
    }
    block->~Block();
    (void)::VirtualFree(base, 0, MEM_RELEASE); // every slot holds a block still in use: nothing is filled this time
    return nullptr;
}

// Leaves the chunk being filled for `chunk`, whose `count` chunks are committed first.
bool MoveTo(Block* block, size_t chunk, size_t count) {
    if (chunk + count > kChunks) {
        return false;
    }
    char* const needed = ChunkAt(block, chunk + count);
    if (needed > block->committed) {
        const size_t step = std::max(static_cast<size_t>(needed - block->committed), kCommitStep);
        const size_t room = static_cast<size_t>(ChunkAt(block, kChunks) - block->committed);
        const size_t size = std::min(step, room);
        if (::VirtualAlloc(block->committed, size, MEM_COMMIT, PAGE_READWRITE) == nullptr) {
            return false;
        }
        block->committed += size;
    }
    block->passed[block->chunk].store(true, std::memory_order_release);
    block->chunk = chunk;
    block->used = ChunkAt(block, chunk);
    return true;
}

void* TakeFrom(Block* block, size_t size) {
    const size_t rounded = size == 0 ? kAlignment : (size + kAlignment - 1) / kAlignment * kAlignment;
    if (rounded > kChunk) {
        // A large allocation takes whole chunks of its own, given back together when it is freed.
        const size_t count = (rounded + kChunk - 1) / kChunk;
        const size_t first = block->chunk + 1;
        if (!MoveTo(block, first, count)) {
            return nullptr;
        }
        for (size_t chunk = first; chunk < first + count; ++chunk) {
            block->inChunk[chunk].store(1, std::memory_order_relaxed);
            block->passed[chunk].store(chunk + 1 < first + count, std::memory_order_relaxed);
        }
        block->spans[first] = static_cast<std::uint32_t>(count);
        block->chunk = first + count - 1;
        block->used = ChunkAt(block, first + count); // the last chunk's rest is not filled
        block->live.fetch_add(1, std::memory_order_relaxed);
        return ChunkAt(block, first);
    }
    if (rounded > static_cast<size_t>(ChunkAt(block, block->chunk + 1) - block->used)) {
        if (!MoveTo(block, block->chunk + 1, 1)) {
            return nullptr;
        }
    }
    void* object = block->used;
    block->used += rounded;
    block->inChunk[block->chunk].fetch_add(1, std::memory_order_relaxed);
    block->live.fetch_add(1, std::memory_order_relaxed);
    return object;
}

void GiveBack(Block* block, void* object) {
    const size_t chunk = static_cast<size_t>(static_cast<char*>(object) - BaseOf(block)) / kChunk;
    const std::uint32_t span = object == ChunkAt(block, chunk) ? block->spans[chunk] : 0;
    if (span > 0) {
        block->spans[chunk] = 0;
        for (size_t each = chunk; each < chunk + span; ++each) {
            block->inChunk[each].fetch_sub(1, std::memory_order_acq_rel);
        }
    } else {
        block->inChunk[chunk].fetch_sub(1, std::memory_order_acq_rel);
    }
    block->live.fetch_sub(1, std::memory_order_release);
}

// Every block that no scope fills and whose allocations are all freed goes whole; of the others, the free chunks.
void GiveBackFree() {
    for (std::atomic<Block*>& slot : g_blocks) {
        Block* block = slot.load(std::memory_order_acquire);
        if (block != nullptr && (block->filling || block->live.load(std::memory_order_acquire) != 0)) {
            GiveBackFreeChunks(block);
        } else if (block != nullptr) {
            slot.store(nullptr, std::memory_order_release);
            g_held.fetch_sub(1, std::memory_order_release);
            block->~Block();
            (void)::VirtualFree(block, 0, MEM_RELEASE);
        }
    }
}

} // namespace

TPackedHeap::Filling::Filling() {
    const DWORD thread = ::GetCurrentThreadId();
    m_outer = g_filling.load(std::memory_order_acquire);
    if (m_outer != nullptr && g_fillingThread.load(std::memory_order_relaxed) != thread) {
        m_outer = nullptr; // another thread fills a block: this one allocates as always
        return;
    }
    if (Block* block = MakeBlock()) {
        m_block = block;
        g_fillingThread.store(thread, std::memory_order_relaxed);
        g_filling.store(block, std::memory_order_release);
    }
}

TPackedHeap::Filling::~Filling() {
    if (m_block == nullptr) {
        return;
    }
    Block* block = static_cast<Block*>(m_block);
    g_filling.store(static_cast<Block*>(m_outer), std::memory_order_release);
    if (m_outer == nullptr) {
        g_fillingThread.store(0, std::memory_order_relaxed);
    }
    // From now on nothing more comes into the block: what was committed ahead goes, and the chunk being filled once
    // it is free.
    block->filling = false;
    block->passed[block->chunk].store(true, std::memory_order_release);
    char* const filled = ChunkAt(block, block->chunk + 1);
    if (block->committed > filled) {
        (void)::VirtualFree(filled, static_cast<size_t>(block->committed - filled), MEM_DECOMMIT);
        block->committed = filled;
    }
    GiveBackFree();
}

TPackedHeap::Figures TPackedHeap::Held() {
    Figures figures;
    for (std::atomic<Block*>& slot : g_blocks) {
        if (Block* block = slot.load(std::memory_order_acquire)) {
            const size_t filled = static_cast<size_t>(block->committed - BaseOf(block)) / kChunk;
            for (size_t chunk = 0; chunk < filled; ++chunk) {
                figures.committed += block->decommitted[chunk] ? 0 : kChunk;
            }
            figures.live += static_cast<size_t>(block->live.load(std::memory_order_relaxed));
            ++figures.blocks;
        }
    }
    return figures;
}

bool TPackedHeap::Packed(const void* object) {
    return g_held.load(std::memory_order_acquire) != 0 && OwnerOf(object) != nullptr;
}

void* TPackedHeap::Allocate(size_t size) noexcept {
    Block* filling = g_filling.load(std::memory_order_acquire);
    if (filling != nullptr && g_fillingThread.load(std::memory_order_relaxed) == ::GetCurrentThreadId()) {
        if (void* object = TakeFrom(filling, size)) {
            return object;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

void TPackedHeap::Free(void* object) noexcept {
    if (object == nullptr) {
        return;
    }
    if (g_held.load(std::memory_order_acquire) != 0) {
        if (Block* block = OwnerOf(object)) {
            GiveBack(block, object);
            return;
        }
    }
    std::free(object);
}

} // namespace bw
// The program's `new` and `delete`, through the packed heap (which leaves everything to the C runtime's heap while
// nothing is packed).
void* operator new(std::size_t size) {
    if (void* object = bw::TPackedHeap::Allocate(size)) {
        return object;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return ::operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return bw::TPackedHeap::Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return bw::TPackedHeap::Allocate(size);
}
void operator delete(void* object) noexcept {
    bw::TPackedHeap::Free(object);
}
void operator delete[](void* object) noexcept {
    bw::TPackedHeap::Free(object);
}
void operator delete(void* object, std::size_t) noexcept {
    bw::TPackedHeap::Free(object);
}
void operator delete[](void* object, std::size_t) noexcept {
    bw::TPackedHeap::Free(object);
}
void operator delete(void* object, const std::nothrow_t&) noexcept {
    bw::TPackedHeap::Free(object);
}
void operator delete[](void* object, const std::nothrow_t&) noexcept {
    bw::TPackedHeap::Free(object);
}
