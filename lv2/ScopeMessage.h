// Scope points from the plug-in to its editor over the `scope` atom output,
// the way LV2 carries data to a UI without instance access: the plug-in
// writes one event per run into the port's sequence, the host hands each
// event to the editor's port_event as an atom (atom:eventTransfer).
//
// An event is an object of type #ScopeBlock with one property, #points: a
// vector of floats, four per point (input left, input right, output left,
// output right), oldest first.
#pragma once

#include "engine/ScopeFeed.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/urid/urid.h>

#include <cstdint>

struct ScopeUrids {
    LV2_URID atomEventTransfer = 0;
    LV2_URID atomFloat = 0;
    LV2_URID atomObject = 0;
    LV2_URID atomVector = 0;
    LV2_URID scopeBlock = 0;
    LV2_URID scopePoints = 0;
    LV2_URID scopeWatch = 0;
    LV2_URID scopeClosed = 0;

    // [instantiation] Maps every URI; false when the host's map gave 0 for any.
    bool map(const LV2_URID_Map& map);
};

// Bytes one event of `points` points takes in a sequence (time stamp, the
// object, its property and the vector).
constexpr uint32_t kScopeEventOverhead = 48;
constexpr uint32_t scopeEventBytes(int32_t points)
{
    return kScopeEventOverhead + static_cast<uint32_t>(points) * sizeof(ScopePoint);
}

// [audio thread; never allocates] Appends an event at frame 0 holding the
// newest points that fit in the forge's room, up to `count`; returns how
// many went in.
int32_t writeScopeEvent(LV2_Atom_Forge& forge, const ScopeUrids& urids, const ScopePoint* points,
                        int32_t count) noexcept;

// [UI thread] Reads a scope block from an atom the host passed on, whose
// whole size (header and body) is `bytes`. Anything that is not a
// well-formed block gives 0; otherwise copies at most `capacity` points
// (the newest) and returns how many.
int32_t readScopeBlock(const ScopeUrids& urids, const LV2_Atom* atom, uint32_t bytes, ScopePoint* out,
                       int32_t capacity) noexcept;

// The editor's word over the `scope_watch` input: an object with no
// properties, of type #ScopeWatch or #ScopeClosed.
enum class ScopeWord { None, Watch, Closed };
// [UI thread] The word as the atom the editor writes (eventTransfer).
LV2_Atom_Object scopeWordAtom(const ScopeUrids& urids, ScopeWord word) noexcept;
// [audio thread] The word an atom of `bytes` bytes (header and body) carries.
ScopeWord readScopeWord(const ScopeUrids& urids, const LV2_Atom* atom, uint32_t bytes) noexcept;
