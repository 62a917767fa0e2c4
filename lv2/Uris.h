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

// The editor's word to the plug-in, over the `scope_watch` atom input: an
// object of type ScopeWatch when the scope shows (and again every second
// while it does), ScopeClosed when it stops showing. The feed runs only
// between the two, and stops on its own when no word comes for a while.
#define Z5R_LV2_SCOPE_WATCH Z5R_LV2_URI "#ScopeWatch"
#define Z5R_LV2_SCOPE_CLOSED Z5R_LV2_URI "#ScopeClosed"

// extension_data: a Z5rTablesInterface whose wait() returns once every
// table set of the rates in use is ready, for offline hosts and tests that
// want each setting to land at its first block from the start.
#define Z5R_LV2_TABLES_INTERFACE Z5R_LV2_URI "#tables"
struct Z5rTablesInterface {
    void (*wait)();
};

// The bundle's files.
#define Z5R_LV2_BUNDLE "KorvaneZ5R.lv2"
#define Z5R_LV2_DSP_BINARY "KorvaneZ5R_dsp.so"
#define Z5R_LV2_UI_BINARY "KorvaneZ5R_ui.so"
#define Z5R_LV2_PLUGIN_TTL "KorvaneZ5R.ttl"
#define Z5R_LV2_PRESETS_TTL "presets.ttl"
