// The bundle's names. The plug-in URI is the identity saved sessions keep
// for ever: never change it. Presets, the editor and the scope messages
// live under it.
#pragma once

#include "engine/Product.h"

#define Z5R_LV2_URI Z5R_PRODUCT_URI
#define Z5R_LV2_UI_URI Z5R_LV2_URI "#ui"

// Scope messages, plug-in to editor, over the `scope` atom output: an
// object of type ScopeBlock whose `points` property is a vector of floats,
// four per point (input left, input right, output left, output right).
#define Z5R_LV2_SCOPE_BLOCK Z5R_LV2_URI "#ScopeBlock"
#define Z5R_LV2_SCOPE_POINTS Z5R_LV2_URI "#points"

// The bundle's files.
#define Z5R_LV2_BUNDLE "KorvaneZ5R.lv2"
#define Z5R_LV2_DSP_BINARY "KorvaneZ5R_dsp.so"
#define Z5R_LV2_UI_BINARY "KorvaneZ5R_ui.so"
#define Z5R_LV2_PLUGIN_TTL "KorvaneZ5R.ttl"
#define Z5R_LV2_PRESETS_TTL "presets.ttl"
