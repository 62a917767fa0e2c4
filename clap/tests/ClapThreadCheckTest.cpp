// The plug-in's checks of the host's threads, where the host offers
// thread-check: a copy built with its debug checks stops at a main-thread
// call made from another thread, and lets the host's right threads through.
#include "TestHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

namespace {

void onOtherThread(const std::function<void()>& call)
{
    std::thread other(call);
    other.join();
}

TEST(ClapThreadCheck, RightThreadsPass)
{
    TestHost host;
    ASSERT_TRUE(host.ok()) << "cannot load " Z5R_CLAP_FILE;
    ASSERT_TRUE(host.activate(48000.0));
    std::vector<float> in(64, 0.0f), outL(64), outR(64);
    onOtherThread([&] { host.process(in.data(), in.data(), outL.data(), outR.data(), 64); });
    host.deactivate();
    ByteStream stream;
    EXPECT_TRUE(host.state->save(host.plugin, &stream.out));
}

TEST(ClapThreadCheckDeathTest, MainThreadCallsFromAnotherThreadStop)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TestHost host;
            onOtherThread([&] { host.activate(48000.0); });
        },
        "onMainThread");
    EXPECT_DEATH(
        {
            TestHost host;
            ByteStream stream;
            onOtherThread([&] { host.state->save(host.plugin, &stream.out); });
        },
        "onMainThread");
    // start_processing belongs to the audio thread, not the main one.
    EXPECT_DEATH(
        {
            TestHost host;
            host.activate(48000.0);
            host.plugin->start_processing(host.plugin);
        },
        "onAudioThread");
}

}  // namespace
