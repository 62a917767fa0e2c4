// Our declarations of the CLAP ABI beyond Debian's 1.1 copy, checked where
// a wrong layout would go unnoticed until a host crashed: every field's
// offset and every record's size as the published headers lay them out
// (pointers and function pointers of 8 bytes on both targets, clap_version_t
// of three u32), the identifiers hosts ask for, and the parts they share
// with Debian's copy.
#include "clap/ClapExtensions.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string_view>

namespace {

static_assert(sizeof(void*) == 8, "the layouts below are the 64-bit ones");

TEST(ClapDeclarations, LayoutsAsPublished)
{
    // Shared with Debian's copy: the version record at the head of two of ours.
    EXPECT_EQ(sizeof(clap_version_t), 12u);
    EXPECT_EQ(offsetof(ClapPresetProviderDescriptor, clap_version), 0u);
    EXPECT_EQ(offsetof(ClapPresetIndexer, clap_version), 0u);

    EXPECT_EQ(sizeof(ClapPluginPosixFdSupport), 8u);
    EXPECT_EQ(sizeof(ClapHostPosixFdSupport), 24u);
    EXPECT_EQ(offsetof(ClapHostPosixFdSupport, unregister_fd), 16u);

    EXPECT_EQ(sizeof(ClapUniversalPluginId), 16u);
    EXPECT_EQ(sizeof(ClapTimestamp), 8u);
    EXPECT_EQ(sizeof(ClapPresetMetadataReceiver), 11 * 8u);
    EXPECT_EQ(offsetof(ClapPresetMetadataReceiver, begin_preset), 16u);
    EXPECT_EQ(offsetof(ClapPresetMetadataReceiver, set_flags), 40u);
    EXPECT_EQ(offsetof(ClapPresetMetadataReceiver, add_extra_info), 80u);
    EXPECT_EQ(sizeof(ClapPresetFiletype), 24u);
    EXPECT_EQ(sizeof(ClapPresetLocation), 32u);
    EXPECT_EQ(offsetof(ClapPresetLocation, name), 8u);
    EXPECT_EQ(offsetof(ClapPresetLocation, kind), 16u);
    EXPECT_EQ(offsetof(ClapPresetLocation, location), 24u);
    EXPECT_EQ(sizeof(ClapPresetSoundpack), 64u);
    EXPECT_EQ(offsetof(ClapPresetSoundpack, release_timestamp), 56u);
    EXPECT_EQ(sizeof(ClapPresetProviderDescriptor), 40u);
    EXPECT_EQ(offsetof(ClapPresetProviderDescriptor, id), 16u);
    EXPECT_EQ(sizeof(ClapPresetProvider), 48u);
    EXPECT_EQ(offsetof(ClapPresetProvider, get_metadata), 32u);
    EXPECT_EQ(sizeof(ClapPresetIndexer), 88u);
    EXPECT_EQ(offsetof(ClapPresetIndexer, indexer_data), 48u);
    EXPECT_EQ(offsetof(ClapPresetIndexer, declare_location), 64u);
    EXPECT_EQ(sizeof(ClapPresetDiscoveryFactory), 24u);

    EXPECT_EQ(sizeof(ClapPluginPresetLoad), 8u);
    EXPECT_EQ(sizeof(ClapHostPresetLoad), 16u);
}

TEST(ClapDeclarations, IdentifiersAndFlagsAsPublished)
{
    EXPECT_EQ(std::string_view(kClapExtPosixFdSupport), "clap.posix-fd-support");
    EXPECT_EQ(std::string_view(kClapPresetDiscoveryFactoryId), "clap.preset-discovery-factory/2");
    EXPECT_EQ(std::string_view(kClapPresetDiscoveryFactoryIdCompat), "clap.preset-discovery-factory/draft-2");
    EXPECT_EQ(std::string_view(kClapExtPresetLoad), "clap.preset-load/2");
    EXPECT_EQ(std::string_view(kClapExtPresetLoadCompat), "clap.preset-load.draft/2");
    EXPECT_EQ(kClapPosixFdRead | kClapPosixFdWrite | kClapPosixFdError, 7u);
    EXPECT_EQ(kClapPresetLocationFile, 0u);
    EXPECT_EQ(kClapPresetLocationPlugin, 1u);
    EXPECT_EQ(kClapPresetIsFactoryContent, 1u);
    EXPECT_EQ(kClapPresetIsFavorite, 8u);
    // Debian's copy is the 1.1 ABI, which every 1.x host takes.
    EXPECT_EQ(CLAP_VERSION_MAJOR, 1u);
    EXPECT_GE(CLAP_VERSION_MINOR, 1u);
}

}  // namespace
