// Scope events: what the plug-in writes is what the editor reads, a small
// port gets the newest points without being overrun, and the editor turns
// away anything malformed that a host might hand it.
#include "lv2/ScopeMessage.h"
#include "lv2/Uris.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

class UridTable {
public:
    UridTable() : feature{this, &UridTable::map} {}
    LV2_URID_Map feature;

private:
    static LV2_URID map(LV2_URID_Map_Handle handle, const char* uri)
    {
        auto& ids = static_cast<UridTable*>(handle)->ids;
        return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
    }
    std::map<std::string, LV2_URID> ids;
};

std::vector<ScopePoint> pointsCounting(int32_t count)
{
    std::vector<ScopePoint> points(count);
    for (int32_t i = 0; i < count; ++i)
        points[i] = {static_cast<float>(i), -static_cast<float>(i), 0.5f * i, 100.0f + i};
    return points;
}

class ScopeMessage : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(urids.map(table.feature));
        lv2_atom_forge_init(&forge, &table.feature);
    }

    // Writes one sequence into a buffer of `capacity` bytes (followed by
    // guard bytes) and returns the points the event held.
    int32_t writeSequence(uint32_t capacity, const std::vector<ScopePoint>& points)
    {
        buffer.assign(capacity + kGuard, 0xA5);
        lv2_atom_forge_set_buffer(&forge, buffer.data(), capacity);
        LV2_Atom_Forge_Frame frame;
        if (!lv2_atom_forge_sequence_head(&forge, &frame, 0)) return -1;
        const int32_t n = writeScopeEvent(forge, urids, points.data(), static_cast<int32_t>(points.size()));
        lv2_atom_forge_pop(&forge, &frame);
        return n;
    }
    bool guardIntact(uint32_t capacity) const
    {
        for (uint32_t i = capacity; i < buffer.size(); ++i)
            if (buffer[i] != 0xA5) return false;
        return true;
    }
    // The first event of the sequence in `buffer`, as the host passes it on.
    const LV2_Atom* firstEvent(uint32_t& bytes) const
    {
        const auto* sequence = reinterpret_cast<const LV2_Atom_Sequence*>(buffer.data());
        if (sequence->atom.size <= sizeof(LV2_Atom_Sequence_Body)) return nullptr;
        const auto* event = lv2_atom_sequence_begin(&sequence->body);
        bytes = static_cast<uint32_t>(sizeof(LV2_Atom) + event->body.size);
        return &event->body;
    }

    static constexpr uint32_t kGuard = 64;
    UridTable table;
    ScopeUrids urids;
    LV2_Atom_Forge forge;
    std::vector<uint8_t> buffer;
};

TEST_F(ScopeMessage, ASmallPortGetsTheNewestPointsAndIsNeverOverrun)
{
    const auto points = pointsCounting(512);
    // Sequence header 16 bytes, then the event: room for (200 - 16 - 48) / 16 = 8 points.
    ASSERT_EQ(writeSequence(200, points), 8);
    EXPECT_TRUE(guardIntact(200));
    uint32_t bytes = 0;
    const LV2_Atom* event = firstEvent(bytes);
    ASSERT_NE(event, nullptr);
    ScopePoint out[kScopeRingSize];
    ASSERT_EQ(readScopeBlock(urids, event, bytes, out, kScopeRingSize), 8);
    EXPECT_EQ(out[0].inputLeft, 504.0f);
    EXPECT_EQ(out[7].inputLeft, 511.0f);

    // Too small for even one point: an empty sequence, nothing beyond.
    EXPECT_EQ(writeSequence(16 + scopeEventBytes(1) - 1, points), 0);
    EXPECT_TRUE(guardIntact(16 + scopeEventBytes(1) - 1));
    EXPECT_EQ(writeSequence(8, points), -1);  // no room for the sequence itself
    EXPECT_TRUE(guardIntact(8));
    // Nothing to send.
    EXPECT_EQ(writeSequence(4096, {}), 0);
}

TEST_F(ScopeMessage, MalformedAtomsAreTurnedAway)
{
    const auto points = pointsCounting(4);
    ASSERT_EQ(writeSequence(1024, points), 4);
    uint32_t bytes = 0;
    const LV2_Atom* event = firstEvent(bytes);
    ASSERT_NE(event, nullptr);
    std::vector<uint8_t> copy(reinterpret_cast<const uint8_t*>(event), reinterpret_cast<const uint8_t*>(event) + bytes);
    ScopePoint out[kScopeRingSize];
    auto readCopy = [&](uint32_t size) {
        return readScopeBlock(urids, reinterpret_cast<const LV2_Atom*>(copy.data()), size, out, kScopeRingSize);
    };
    ASSERT_EQ(readCopy(bytes), 4);

    // Handed over shorter than the atom claims, or shorter than a header.
    EXPECT_EQ(readCopy(bytes - 1), 0);
    EXPECT_EQ(readCopy(4), 0);
    EXPECT_EQ(readScopeBlock(urids, nullptr, 100, out, kScopeRingSize), 0);

    // One field spoiled at a time, in place (the copy keeps its buffer).
    auto* atom = reinterpret_cast<LV2_Atom*>(copy.data());
    auto* object = reinterpret_cast<LV2_Atom_Object*>(copy.data());
    auto* property = reinterpret_cast<LV2_Atom_Property_Body*>(object + 1);
    auto* vector = reinterpret_cast<LV2_Atom_Vector_Body*>(&property->value + 1);
    const std::vector<uint8_t> intact = copy;
    auto mutate = [&](auto change) {
        change();
        const int32_t n = readCopy(bytes);
        std::copy(intact.begin(), intact.end(), copy.begin());
        return n;
    };
    EXPECT_EQ(mutate([&] { atom->type = urids.atomVector; }), 0);
    EXPECT_EQ(mutate([&] { object->body.otype = urids.scopePoints; }), 0);
    EXPECT_EQ(mutate([&] { property->value.size = 1u << 30; }), 0);  // a vector bigger than its object
    EXPECT_EQ(mutate([&] { property->value.type = urids.atomFloat; }), 0);
    EXPECT_EQ(mutate([&] { vector->child_type = urids.atomObject; }), 0);
    EXPECT_EQ(mutate([&] { vector->child_size = 8; }), 0);
    EXPECT_EQ(mutate([&] { property->key = urids.scopeBlock; }), 0);  // no points property
    EXPECT_EQ(mutate([&] { atom->size = 4; }), 0);                     // no room for the object body
    // A vector whose length is not whole points reads the whole ones.
    EXPECT_EQ(mutate([&] { property->value.size -= sizeof(float); }), 3);
}

TEST_F(ScopeMessage, TheEditorsWordsReadBackAndAnythingElseIsNoWord)
{
    for (ScopeWord word : {ScopeWord::Watch, ScopeWord::Closed}) {
        const LV2_Atom_Object atom = scopeWordAtom(urids, word);
        EXPECT_EQ(readScopeWord(urids, &atom.atom, sizeof(atom)), word);
        // Too short a hand-over, a size beyond it, another type or object.
        EXPECT_EQ(readScopeWord(urids, &atom.atom, sizeof(atom) - 1), ScopeWord::None);
        LV2_Atom_Object bad = atom;
        bad.atom.size = 1u << 20;
        EXPECT_EQ(readScopeWord(urids, &bad.atom, sizeof(bad)), ScopeWord::None);
        bad = atom;
        bad.atom.type = urids.atomVector;
        EXPECT_EQ(readScopeWord(urids, &bad.atom, sizeof(bad)), ScopeWord::None);
        bad = atom;
        bad.body.otype = urids.scopeBlock;
        EXPECT_EQ(readScopeWord(urids, &bad.atom, sizeof(bad)), ScopeWord::None);
    }
    EXPECT_EQ(readScopeWord(urids, nullptr, 64), ScopeWord::None);
}

}  // namespace
