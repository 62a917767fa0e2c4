// Who the effect is, as every format and the editor present it: names,
// vendor, version and the identifiers hosts and saved projects keep.
#pragma once

#include "z5r/Version.h"

#include <cstdint>

// The LV2 URI as a literal, for the LV2 adapter's URIs that extend it.
#define Z5R_PRODUCT_URI "https://qmv.example/plugins/korvane-z5r"

namespace product {

inline constexpr char kName[] = "Korvane Z5R";
inline constexpr char kVendor[] = "QMV";
inline constexpr char kProductString[] = "QMV Korvane Z5R";
inline constexpr char kVendorHomepage[] = "https://www.qmv.example/";
inline constexpr char kVendorEmail[] = "hello@qmv.example";

// The version, from the build's one definition of it.
inline constexpr int32_t kVersionMajor = Z5R_VERSION_MAJOR;
inline constexpr int32_t kVersionMinor = Z5R_VERSION_MINOR;
inline constexpr int32_t kVersionPatch = Z5R_VERSION_PATCH;
inline constexpr char kVersionString[] = Z5R_VERSION_STRING;  // "1.0.6"
// The number VST 2.4 hosts read: 1.0.6 is 1060.
inline constexpr int32_t kVendorVersion = kVersionMajor * 1000 + kVersionMinor * 100 + kVersionPatch * 10;

// Identifiers. Hosts find saved projects' instances by these: they never
// change, whatever else does.
inline constexpr int32_t kVst2UniqueId = 0x30333468;
inline constexpr char kLv2Uri[] = Z5R_PRODUCT_URI;
inline constexpr char kClapId[] = "example.qmv.korvane-z5r";

// VST3 class identifiers, as four 32-bit words written the way the
// interface's own identifiers are (the first word's byte order differs
// between Windows and other systems; the adapter lays them out). Saved
// projects find the effect by the processor's identifier: it never changes.
// The effect is one object that is also its own edit controller, so the
// controller's identifier is reserved, never given to anything else, for a
// controller apart should one ever be needed.
struct ClassId {
    uint32_t l1, l2, l3, l4;
};
inline constexpr ClassId kVst3ProcessorId = {0x5A35520AU, 0x4B6F7276U, 0x616E655AU, 0x35520001U};
inline constexpr ClassId kVst3ControllerId = {0x5A35520AU, 0x4B6F7276U, 0x616E655AU, 0x35520002U};

}  // namespace product
