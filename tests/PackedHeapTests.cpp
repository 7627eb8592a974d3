#include "platform/PackedHeap.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bw::test {

namespace {

std::map<int, std::wstring> SomeKept(int count) {
    std::map<int, std::wstring> kept;
    for (int i = 0; i < count; ++i) {
        kept[i] = L"a text too long to be kept inside the string itself, number " + std::to_wstring(i);
    }
    return kept;
}

// Whether the memory at `object` has been given back to the system: decommitted, or its whole block released.
// Taken as a number: the object may be gone.
volatile std::uintptr_t g_queried = 0;

bool GivenBack(std::uintptr_t address) {
    g_queried = address; // only its address is asked of the system: the object is not reached through it
    MEMORY_BASIC_INFORMATION about{};
    return ::VirtualQuery(reinterpret_cast<const void*>(g_queried), &about, sizeof about) == sizeof about &&
           about.State != MEM_COMMIT;
}

std::uintptr_t AddressOf(const void* object) {
    return reinterpret_cast<std::uintptr_t>(object);
}

} // namespace

// What a packing copies lies in a block of its own; the block of the packing before is given back whole once its
// copies are replaced, so that no more than one packing is held.
TEST(PackedHeap, APackingsCopiesReplaceThoseOfTheOneBefore) {
    std::map<int, std::wstring> kept = SomeKept(200);
    EXPECT_FALSE(TPackedHeap::Packed(kept.at(7).data())); // made in the C runtime's heap, as always

    TPackedHeap::Repack([&] { RepackCopy(kept); });
    const std::uintptr_t first = AddressOf(kept.at(7).data());
    EXPECT_TRUE(TPackedHeap::Packed(kept.at(7).data()));
    EXPECT_EQ(kept.at(7), SomeKept(8).at(7));
    EXPECT_EQ(TPackedHeap::Held().blocks, 1u);
    EXPECT_EQ(TPackedHeap::Held().live, 400u); // a node and a text per element

    TPackedHeap::Repack([&] { RepackCopy(kept); });
    EXPECT_TRUE(TPackedHeap::Packed(kept.at(7).data()));
    EXPECT_FALSE(TPackedHeap::Packed(reinterpret_cast<const void*>(first)));
    EXPECT_TRUE(GivenBack(first));
    EXPECT_EQ(TPackedHeap::Held().blocks, 1u);

    kept.clear();
    TPackedHeap::Repack([] {});
    EXPECT_EQ(TPackedHeap::Held().blocks, 0u);
}

// What a burst of work needed only while it ran is given back when it is freed, chunk by chunk, though the burst
// keeps something (here one text of every few hundred): only the chunks with something kept stay committed.
TEST(PackedHeap, AWorksPassingNeedsAreGivenBackAsTheyAreFreed) {
    std::vector<std::unique_ptr<std::wstring>> kept;
    std::vector<std::uintptr_t> passed;
    TPackedHeap::Work([&] {
        std::vector<std::unique_ptr<std::wstring>> passing;
        for (int i = 0; i < 20000; ++i) {
            auto text = std::make_unique<std::wstring>(200, L'x');
            if (i % 5000 == 0) {
                kept.push_back(std::move(text));
            } else {
                passed.push_back(AddressOf(text->data()));
                passing.push_back(std::move(text));
            }
        }
        const std::wstring whole(200000, L'y'); // larger than a chunk: chunks of its own
        passed.push_back(AddressOf(whole.data()));
    });
    ASSERT_EQ(kept.size(), 4u);
    for (const auto& text : kept) {
        EXPECT_TRUE(TPackedHeap::Packed(text->data()));
        EXPECT_FALSE(GivenBack(AddressOf(text->data())));
        EXPECT_EQ(*text, std::wstring(200, L'x'));
    }
    size_t givenBack = 0;
    for (const std::uintptr_t address : passed) {
        givenBack += GivenBack(address) ? 1 : 0;
    }
    EXPECT_GT(givenBack, passed.size() * 9 / 10);
    EXPECT_LT(TPackedHeap::Held().committed, size_t(1) << 20) << "about 9 MB went through the block";

    std::vector<std::unique_ptr<std::wstring>>().swap(kept);
    std::vector<std::uintptr_t>().swap(passed);
    TPackedHeap::Repack([] {});
    EXPECT_EQ(TPackedHeap::Held().blocks, 0u);
}

// A copy that outlives its packing (kept by what the next packing did not copy) holds its block, and only its block;
// the block goes at the first packing after the copy is freed.
TEST(PackedHeap, ABlockStaysWhileACopyInItIsInUse) {
    std::map<int, std::wstring> kept = SomeKept(50);
    std::unique_ptr<std::wstring> outliving;
    TPackedHeap::Repack([&] {
        RepackCopy(kept);
        outliving = std::make_unique<std::wstring>(kept.at(3));
    });
    const std::uintptr_t first = AddressOf(outliving.get());
    TPackedHeap::Repack([&] { RepackCopy(kept); });
    EXPECT_EQ(TPackedHeap::Held().blocks, 2u);
    EXPECT_FALSE(GivenBack(first));
    EXPECT_EQ(*outliving, kept.at(3));

    outliving.reset();
    TPackedHeap::Repack([&] { RepackCopy(kept); });
    EXPECT_EQ(TPackedHeap::Held().blocks, 1u);
    EXPECT_TRUE(GivenBack(first));
    kept.clear();
    TPackedHeap::Repack([] {});
}

// Only the packing thread fills the block: what another thread makes meanwhile lies in the C runtime's heap, and a
// packed copy freed on another thread is counted as freed there.
TEST(PackedHeap, OnlyThePackingThreadFillsTheBlock) {
    std::vector<std::wstring*> aside;
    std::wstring* packed = nullptr;
    TPackedHeap::Repack([&] {
        packed = new std::wstring(L"a text that the packing thread copies into the block");
        std::thread other([&] { aside.push_back(new std::wstring(L"a text that another thread makes meanwhile")); });
        other.join();
    });
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_FALSE(TPackedHeap::Packed(aside.front()));
    EXPECT_TRUE(TPackedHeap::Packed(packed));
    delete aside.front();

    std::thread([&] { delete packed; }).join();
    EXPECT_EQ(TPackedHeap::Held().live, 0u);
    TPackedHeap::Repack([] {});
    EXPECT_EQ(TPackedHeap::Held().blocks, 0u);
}

} // namespace bw::test
