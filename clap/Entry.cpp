// The library's one export, clap_entry: the plug-in factory with the one
// effect, and the preset discovery factory that lists the eight factory
// programs as presets inside the plug-in, one load key per program ("0" to
// "7"), for the preset-load extension. Nothing here waits or allocates but
// an instance or a provider.
#include "clap/ClapEffect.h"
#include "clap/ClapExtensions.h"
#include "engine/Product.h"

#include "clap/entry.h"
#include "clap/plugin-factory.h"

#include <new>
#include <string_view>

#if defined(_WIN32)
#include "plugin/ModuleHandle.h"

#include <windows.h>

// The editor finds its window class and skin pictures through the module.
void* moduleHandle = nullptr;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) moduleHandle = instance;
    return TRUE;
}
#endif

namespace {

// --- the plug-in factory ---
uint32_t CLAP_ABI pluginCount(const clap_plugin_factory_t*) { return 1; }

const clap_plugin_descriptor_t* CLAP_ABI pluginDescriptor(const clap_plugin_factory_t*, uint32_t index)
{
    return index == 0 ? &kClapDescriptor : nullptr;
}

const clap_plugin_t* CLAP_ABI createPlugin(const clap_plugin_factory_t*, const clap_host_t* host, const char* id)
{
    if (!host || !id || std::string_view(id) != product::kClapId || !clap_version_is_compatible(host->clap_version))
        return nullptr;
    try {
        return (new ClapEffect(host))->plugin();
    } catch (...) {
        return nullptr;  // out of memory: no instance, and nothing thrown at the host
    }
}

const clap_plugin_factory_t kPluginFactory = {pluginCount, pluginDescriptor, createPlugin};

// --- the preset provider: the factory programs, inside the plug-in ---
constexpr char kProviderId[] = "example.qmv.korvane-z5r.programs";
const ClapPresetProviderDescriptor kProviderDescriptor = {CLAP_VERSION_INIT, kProviderId, "Korvane Z5R programs",
                                                          product::kVendor};
constexpr const char* kLoadKeys[kNumPrograms] = {"0", "1", "2", "3", "4", "5", "6", "7"};
static_assert(kNumPrograms == 8);

struct Provider {
    ClapPresetProvider record;
    const ClapPresetIndexer* indexer;
};

const ClapPresetIndexer* indexerOf(const ClapPresetProvider* provider)
{
    return static_cast<const Provider*>(provider->provider_data)->indexer;
}

bool CLAP_ABI providerInit(const ClapPresetProvider* provider)
{
    const ClapPresetIndexer* indexer = indexerOf(provider);
    if (!indexer->declare_location) return false;
    const ClapPresetLocation location = {kClapPresetIsFactoryContent, product::kName, kClapPresetLocationPlugin,
                                         nullptr};
    return indexer->declare_location(indexer, &location);
}

void CLAP_ABI providerDestroy(const ClapPresetProvider* provider)
{
    delete static_cast<Provider*>(provider->provider_data);
}

bool CLAP_ABI providerMetadata(const ClapPresetProvider*, uint32_t kind, const char* location,
                               const ClapPresetMetadataReceiver* receiver)
{
    if (kind != kClapPresetLocationPlugin || location || !receiver || !receiver->begin_preset) return false;
    const ClapUniversalPluginId plugin = {"clap", product::kClapId};
    for (int32_t program = 0; program < kNumPrograms; ++program) {
        if (!receiver->begin_preset(receiver, kFactoryPrograms[program].name, kLoadKeys[program])) break;
        if (receiver->add_plugin_id) receiver->add_plugin_id(receiver, &plugin);
        if (receiver->set_flags) receiver->set_flags(receiver, kClapPresetIsFactoryContent);
        if (receiver->add_creator) receiver->add_creator(receiver, product::kVendor);
    }
    return true;
}

const void* CLAP_ABI providerExtension(const ClapPresetProvider*, const char*) { return nullptr; }

uint32_t CLAP_ABI providerCount(const ClapPresetDiscoveryFactory*) { return 1; }

const ClapPresetProviderDescriptor* CLAP_ABI providerDescriptor(const ClapPresetDiscoveryFactory*, uint32_t index)
{
    return index == 0 ? &kProviderDescriptor : nullptr;
}

const ClapPresetProvider* CLAP_ABI createProvider(const ClapPresetDiscoveryFactory*, const ClapPresetIndexer* indexer,
                                                  const char* id)
{
    if (!indexer || !id || std::string_view(id) != kProviderId) return nullptr;
    auto* provider = new (std::nothrow) Provider{};
    if (!provider) return nullptr;
    provider->record = {&kProviderDescriptor, provider, providerInit, providerDestroy, providerMetadata,
                        providerExtension};
    provider->indexer = indexer;
    return &provider->record;
}

const ClapPresetDiscoveryFactory kPresetFactory = {providerCount, providerDescriptor, createProvider};

// --- the entry ---
bool CLAP_ABI entryInit(const char*) { return true; }
void CLAP_ABI entryDeinit() {}

const void* CLAP_ABI entryFactory(const char* id)
{
    if (!id) return nullptr;
    const std::string_view name = id;
    if (name == CLAP_PLUGIN_FACTORY_ID) return &kPluginFactory;
    if (name == kClapPresetDiscoveryFactoryId || name == kClapPresetDiscoveryFactoryIdCompat) return &kPresetFactory;
    return nullptr;
}

}  // namespace

extern "C" CLAP_EXPORT const clap_plugin_entry_t clap_entry = {CLAP_VERSION_INIT, entryInit, entryDeinit, entryFactory};
