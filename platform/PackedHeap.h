#pragma once

#include <cstddef>
#include <utility>

namespace bw {

// Memory for a long-running process that works in bursts (the watcher): what a burst needs only while it runs is
// given back when it ends, and what is kept until the next one lies packed apart from it.
//
// A heap gives memory back to the system only in whole regions, and Wine's heap only at the end of one. What a
// process keeps (the store's links, its bases) is made piece by piece amid the passing needs of the work that reads
// it (file listings, whole-file texts), so that one piece kept holds a region of freed ones committed, and the process
// keeps the size of its busiest moment for good. Here each scope fills a block of its own, one allocation after the
// other, in chunks: a chunk is committed as the filling reaches it and decommitted once the filling has passed it and
// all it holds is freed; a block goes whole once nothing in it is in use. A packing copies what is kept, in one go,
// into a new block, so that the block of the work before and that of the packing before are free and go.
//
// While a scope runs, every `new` of the calling thread takes memory from its block (or from the C runtime's heap,
// as always, once the block is full); `delete` gives any object back where it came from, on any thread. Only one
// thread at a time fills blocks; the others allocate as always meanwhile. Nothing changes for a process that never
// opens a scope but one test in `delete`.
class TPackedHeap {
public:
    // Runs `work`, a burst of work whose passing needs are given back as soon as they are freed.
    template <class Burst> static auto Work(Burst&& work) {
        const Filling filling;
        return std::forward<Burst>(work)();
    }
    // Runs `pack`, which copies what is kept (RepackCopy); then gives back the blocks whose allocations are all freed.
    template <class Pack> static void Repack(Pack&& pack) {
        const Filling filling;
        std::forward<Pack>(pack)();
    }

    // What the blocks hold now (for the tests and the bench): their committed bytes, the allocations in use, and
    // how many blocks there are.
    struct Figures {
        size_t committed = 0;
        size_t live = 0;
        size_t blocks = 0;
    };
    static Figures Held();
    // True when `object` lies in a block.
    static bool Packed(const void* object);

    // The C++ allocation routines of the program go through these two.
    static void* Allocate(size_t size) noexcept;
    static void Free(void* object) noexcept;

private:
    // A new block takes the calling thread's allocations for the scope's life (and that of an inner scope once the
    // inner one ends).
    class Filling {
    public:
        Filling();
        ~Filling();
        Filling(const Filling&) = delete;
        Filling& operator=(const Filling&) = delete;

    private:
        void* m_outer = nullptr; // the block of the scope this one runs within
        void* m_block = nullptr;
    };
};

// Makes `value` a copy of itself, so that inside TPackedHeap::Repack it lies in the packing's block (a container
// copied with every element, a text with no room to spare); the old one is freed.
template <class T> void RepackCopy(T& value) {
    T copy(value);
    value = std::move(copy);
}

} // namespace bw
