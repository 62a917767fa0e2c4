#include "lv2/ScopeMessage.h"

#include "lv2/Uris.h"

#include <algorithm>
#include <cstring>

bool ScopeUrids::map(const LV2_URID_Map& m)
{
    atomEventTransfer = m.map(m.handle, LV2_ATOM__eventTransfer);
    atomFloat = m.map(m.handle, LV2_ATOM__Float);
    atomObject = m.map(m.handle, LV2_ATOM__Object);
    atomVector = m.map(m.handle, LV2_ATOM__Vector);
    scopeBlock = m.map(m.handle, Z5R_LV2_SCOPE_BLOCK);
    scopePoints = m.map(m.handle, Z5R_LV2_SCOPE_POINTS);
    scopeWatch = m.map(m.handle, Z5R_LV2_SCOPE_WATCH);
    scopeClosed = m.map(m.handle, Z5R_LV2_SCOPE_CLOSED);
    return atomEventTransfer && atomFloat && atomObject && atomVector && scopeBlock && scopePoints && scopeWatch &&
           scopeClosed;
}

static_assert(sizeof(ScopePoint) == 4 * sizeof(float), "a point is four floats, back to back");
static_assert(kScopeEventOverhead == sizeof(int64_t) + sizeof(LV2_Atom_Object) + sizeof(LV2_Atom_Property_Body) +
                                        sizeof(LV2_Atom_Vector_Body),
              "event time, object header, property header, vector header");

int32_t writeScopeEvent(LV2_Atom_Forge& forge, const ScopeUrids& urids, const ScopePoint* points,
                        int32_t count) noexcept
{
    if (!points || count <= 0 || forge.offset > forge.size) return 0;
    const uint32_t room = forge.size - forge.offset;
    if (room < scopeEventBytes(1)) return 0;
    const int32_t fit = static_cast<int32_t>((room - kScopeEventOverhead) / sizeof(ScopePoint));
    const int32_t n = std::min(count, fit);
    const ScopePoint* newest = points + (count - n);

    LV2_Atom_Forge_Frame frame;
    if (!lv2_atom_forge_frame_time(&forge, 0)) return 0;
    if (!lv2_atom_forge_object(&forge, &frame, 0, urids.scopeBlock)) return 0;
    lv2_atom_forge_key(&forge, urids.scopePoints);
    const LV2_Atom_Forge_Ref vector = lv2_atom_forge_vector(&forge, sizeof(float), urids.atomFloat,
                                                            static_cast<uint32_t>(4 * n), newest);
    lv2_atom_forge_pop(&forge, &frame);
    return vector ? n : 0;
}

int32_t readScopeBlock(const ScopeUrids& urids, const LV2_Atom* atom, uint32_t bytes, ScopePoint* out,
                       int32_t capacity) noexcept
{
    if (!atom || !out || capacity <= 0 || bytes < sizeof(LV2_Atom)) return 0;
    if (atom->size > bytes - sizeof(LV2_Atom)) return 0;  // claims more than was handed over
    if (atom->type != urids.atomObject || atom->size < sizeof(LV2_Atom_Object_Body)) return 0;
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(atom);
    if (object->body.otype != urids.scopeBlock) return 0;

    // Every size below is checked against the object's own before it is used.
    const auto* body = reinterpret_cast<const uint8_t*>(&object->body);
    const uint32_t end = atom->size;
    uint32_t offset = sizeof(LV2_Atom_Object_Body);
    while (end - offset >= sizeof(LV2_Atom_Property_Body)) {
        const auto* property = reinterpret_cast<const LV2_Atom_Property_Body*>(body + offset);
        const uint32_t valueSize = property->value.size;
        if (valueSize > end - offset - sizeof(LV2_Atom_Property_Body)) return 0;
        if (property->key == urids.scopePoints) {
            if (property->value.type != urids.atomVector || valueSize < sizeof(LV2_Atom_Vector_Body)) return 0;
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector_Body*>(&property->value + 1);
            if (vector->child_type != urids.atomFloat || vector->child_size != sizeof(float)) return 0;
            const uint32_t available = (valueSize - sizeof(LV2_Atom_Vector_Body)) / sizeof(ScopePoint);
            const int32_t n = static_cast<int32_t>(std::min<uint32_t>(available, static_cast<uint32_t>(capacity)));
            const auto* data = reinterpret_cast<const uint8_t*>(vector + 1);
            std::memcpy(out, data + (available - static_cast<uint32_t>(n)) * sizeof(ScopePoint),
                        static_cast<size_t>(n) * sizeof(ScopePoint));
            return n;
        }
        const uint32_t step = lv2_atom_pad_size(static_cast<uint32_t>(sizeof(LV2_Atom_Property_Body)) + valueSize);
        if (step > end - offset) break;
        offset += step;
    }
    return 0;
}

LV2_Atom_Object scopeWordAtom(const ScopeUrids& urids, ScopeWord word) noexcept
{
    LV2_Atom_Object atom{};
    atom.atom.size = sizeof(LV2_Atom_Object_Body);
    atom.atom.type = urids.atomObject;
    atom.body.otype = word == ScopeWord::Watch ? urids.scopeWatch : urids.scopeClosed;
    return atom;
}

ScopeWord readScopeWord(const ScopeUrids& urids, const LV2_Atom* atom, uint32_t bytes) noexcept
{
    if (!atom || bytes < sizeof(LV2_Atom_Object) || atom->size > bytes - sizeof(LV2_Atom)) return ScopeWord::None;
    if (atom->type != urids.atomObject || atom->size < sizeof(LV2_Atom_Object_Body)) return ScopeWord::None;
    const LV2_URID type = reinterpret_cast<const LV2_Atom_Object*>(atom)->body.otype;
    if (type == urids.scopeWatch) return ScopeWord::Watch;
    if (type == urids.scopeClosed) return ScopeWord::Closed;
    return ScopeWord::None;
}
