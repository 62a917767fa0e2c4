// Our declarations of the parts of the published CLAP ABI that Debian's copy
// of the 1.1 headers (dpf-source, /usr/share/dpf/distrho/src/clap) does not
// carry: the host's descriptor watch (posix-fd-support), the preset
// discovery factory (CLAP 1.2), the plug-in's preset loading and the render
// mode. Layouts,
// identifiers and threading as published; the rest of the ABI comes from
// Debian's headers, so nothing is declared twice.
#pragma once

#include "clap/plugin.h"

#include <cstdint>

extern "C" {

// --- posix-fd-support: the host watches a descriptor in its run loop ---
inline constexpr char kClapExtPosixFdSupport[] = "clap.posix-fd-support";

enum : uint32_t {
    kClapPosixFdRead = 1u << 0,
    kClapPosixFdWrite = 1u << 1,
    kClapPosixFdError = 1u << 2,
};

struct ClapPluginPosixFdSupport {
    // [main thread] The host saw `flags` on `fd`; level-triggered.
    void(CLAP_ABI* on_fd)(const clap_plugin_t* plugin, int fd, uint32_t flags);
};

struct ClapHostPosixFdSupport {
    // [main thread] Each answers true on success.
    bool(CLAP_ABI* register_fd)(const clap_host_t* host, int fd, uint32_t flags);
    bool(CLAP_ABI* modify_fd)(const clap_host_t* host, int fd, uint32_t flags);
    bool(CLAP_ABI* unregister_fd)(const clap_host_t* host, int fd);
};

// --- Preset discovery: the host indexes presets without an instance ---
inline constexpr char kClapPresetDiscoveryFactoryId[] = "clap.preset-discovery-factory/2";
// The draft's identifier, which hosts of 2023 ask for; the same layout.
inline constexpr char kClapPresetDiscoveryFactoryIdCompat[] = "clap.preset-discovery-factory/draft-2";

enum : uint32_t {
    kClapPresetLocationFile = 0,
    kClapPresetLocationPlugin = 1,  // presets inside the plug-in; the location is null
};

enum : uint32_t {
    kClapPresetIsFactoryContent = 1u << 0,
    kClapPresetIsUserContent = 1u << 1,
    kClapPresetIsDemoContent = 1u << 2,
    kClapPresetIsFavorite = 1u << 3,
};

using ClapTimestamp = uint64_t;  // seconds since 1970, 0 unknown

struct ClapUniversalPluginId {
    const char* abi;  // "clap"
    const char* id;
};

struct ClapPresetMetadataReceiver {
    void* receiver_data;
    void(CLAP_ABI* on_error)(const ClapPresetMetadataReceiver* receiver, int32_t os_error, const char* message);
    // False: stop calling the receiver.
    bool(CLAP_ABI* begin_preset)(const ClapPresetMetadataReceiver* receiver, const char* name, const char* load_key);
    void(CLAP_ABI* add_plugin_id)(const ClapPresetMetadataReceiver* receiver, const ClapUniversalPluginId* plugin_id);
    void(CLAP_ABI* set_soundpack_id)(const ClapPresetMetadataReceiver* receiver, const char* soundpack_id);
    void(CLAP_ABI* set_flags)(const ClapPresetMetadataReceiver* receiver, uint32_t flags);
    void(CLAP_ABI* add_creator)(const ClapPresetMetadataReceiver* receiver, const char* creator);
    void(CLAP_ABI* set_description)(const ClapPresetMetadataReceiver* receiver, const char* description);
    void(CLAP_ABI* set_timestamps)(const ClapPresetMetadataReceiver* receiver, ClapTimestamp creation,
                                   ClapTimestamp modification);
    void(CLAP_ABI* add_feature)(const ClapPresetMetadataReceiver* receiver, const char* feature);
    void(CLAP_ABI* add_extra_info)(const ClapPresetMetadataReceiver* receiver, const char* key, const char* value);
};

struct ClapPresetFiletype {
    const char* name;
    const char* description;
    const char* file_extension;
};

struct ClapPresetLocation {
    uint32_t flags;
    const char* name;
    uint32_t kind;
    const char* location;
};

struct ClapPresetSoundpack {
    uint32_t flags;
    const char* id;
    const char* name;
    const char* description;
    const char* homepage_url;
    const char* vendor;
    const char* image_path;
    ClapTimestamp release_timestamp;
};

struct ClapPresetProviderDescriptor {
    clap_version_t clap_version;
    const char* id;
    const char* name;
    const char* vendor;
};

struct ClapPresetProvider {
    const ClapPresetProviderDescriptor* desc;
    void* provider_data;
    bool(CLAP_ABI* init)(const ClapPresetProvider* provider);
    void(CLAP_ABI* destroy)(const ClapPresetProvider* provider);
    bool(CLAP_ABI* get_metadata)(const ClapPresetProvider* provider, uint32_t location_kind, const char* location,
                                 const ClapPresetMetadataReceiver* receiver);
    const void*(CLAP_ABI* get_extension)(const ClapPresetProvider* provider, const char* extension_id);
};

struct ClapPresetIndexer {
    clap_version_t clap_version;
    const char* name;
    const char* vendor;
    const char* url;
    const char* version;
    void* indexer_data;
    bool(CLAP_ABI* declare_filetype)(const ClapPresetIndexer* indexer, const ClapPresetFiletype* filetype);
    bool(CLAP_ABI* declare_location)(const ClapPresetIndexer* indexer, const ClapPresetLocation* location);
    bool(CLAP_ABI* declare_soundpack)(const ClapPresetIndexer* indexer, const ClapPresetSoundpack* soundpack);
    const void*(CLAP_ABI* get_extension)(const ClapPresetIndexer* indexer, const char* extension_id);
};

// [any thread] Every call.
struct ClapPresetDiscoveryFactory {
    uint32_t(CLAP_ABI* count)(const ClapPresetDiscoveryFactory* factory);
    const ClapPresetProviderDescriptor*(CLAP_ABI* get_descriptor)(const ClapPresetDiscoveryFactory* factory,
                                                                  uint32_t index);
    const ClapPresetProvider*(CLAP_ABI* create)(const ClapPresetDiscoveryFactory* factory,
                                                const ClapPresetIndexer* indexer, const char* provider_id);
};

// --- preset-load: the host loads one of the presets it discovered ---
inline constexpr char kClapExtPresetLoad[] = "clap.preset-load/2";
inline constexpr char kClapExtPresetLoadCompat[] = "clap.preset-load.draft/2";

struct ClapPluginPresetLoad {
    // [main thread] True when the preset is in force.
    bool(CLAP_ABI* from_location)(const clap_plugin_t* plugin, uint32_t location_kind, const char* location,
                                  const char* load_key);
};

struct ClapHostPresetLoad {
    // [main thread]
    void(CLAP_ABI* on_error)(const clap_host_t* host, uint32_t location_kind, const char* location,
                             const char* load_key, int32_t os_error, const char* message);
    void(CLAP_ABI* loaded)(const clap_host_t* host, uint32_t location_kind, const char* location,
                           const char* load_key);
};

// --- render: the host says whether it renders against a deadline ---
inline constexpr char kClapExtRender[] = "clap.render";

enum : int32_t {
    kClapRenderRealtime = 0,  // the default
    kClapRenderOffline = 1,   // no deadline: the plug-in may take its time
};

struct ClapPluginRender {
    // [main thread] True when the plug-in cannot render offline at all.
    bool(CLAP_ABI* has_hard_realtime_requirement)(const clap_plugin_t* plugin);
    // [main thread] True when the mode was taken.
    bool(CLAP_ABI* set)(const clap_plugin_t* plugin, int32_t mode);
};

}  // extern "C"
