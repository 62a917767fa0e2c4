#include "args.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using namespace z5r;

namespace {

Options parse(std::initializer_list<const char*> args) {
    std::vector<const char*> v(args);
    return parseArgs(v);
}

}  // namespace

TEST(RenderArgs, NothingGivenRendersTheDemoWithDefaults) {
    const Options o = parse({});
    EXPECT_TRUE(o.input.empty());
    EXPECT_TRUE(o.output.empty());
    EXPECT_TRUE(o.plugin.empty());
    EXPECT_FALSE(o.program.has_value());
    EXPECT_TRUE(o.settings.empty());
    EXPECT_EQ(o.block, 512);
    EXPECT_EQ(o.tailSeconds, 0.0);
    EXPECT_FALSE(o.demoRate.has_value());
    EXPECT_FALSE(o.help || o.list || o.quiet);
    EXPECT_TRUE(o.compensateLatency);
}

TEST(RenderArgs, ReadsEveryOptionInBothSpellings) {
    const Options o = parse({"--program", "3", "--set", "Gain=0.8", "in.wav", "--set=level = 0", "-o", "out.wav",
                             "--block=256", "--tail", "1.5", "--plugin=/x/p.so", "-q"});
    EXPECT_EQ(o.input, "in.wav");
    EXPECT_EQ(o.output, "out.wav");
    EXPECT_EQ(o.plugin, "/x/p.so");
    EXPECT_EQ(o.program, 3);
    ASSERT_EQ(o.settings.size(), 2u);
    EXPECT_EQ(o.settings[0].name, "Gain");
    EXPECT_FLOAT_EQ(o.settings[0].value, 0.8f);
    EXPECT_EQ(o.settings[1].name, "level");  // blanks around name and value are dropped
    EXPECT_FLOAT_EQ(o.settings[1].value, 0.0f);
    EXPECT_EQ(o.block, 256);
    EXPECT_DOUBLE_EQ(o.tailSeconds, 1.5);
    EXPECT_TRUE(o.quiet);

    EXPECT_EQ(parse({"--rate", "44100"}).demoRate, 44100);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"--list"}).list);
    EXPECT_FALSE(parse({"--no-latency-compensation"}).compensateLatency);
    EXPECT_EQ(parse({"--", "-odd.wav"}).input, "-odd.wav");
}

TEST(RenderArgs, AcceptsTheEdgesOfEveryRange) {
    EXPECT_FLOAT_EQ(parse({"--set", "Gain=0"}).settings[0].value, 0.0f);
    EXPECT_FLOAT_EQ(parse({"--set", "Gain=1"}).settings[0].value, 1.0f);
    EXPECT_FLOAT_EQ(parse({"--set", "Gain=1e-1"}).settings[0].value, 0.1f);
    EXPECT_EQ(parse({"--program", "0"}).program, 0);
    EXPECT_EQ(parse({"--block", "1"}).block, 1);
    EXPECT_EQ(parse({"--block", "65536"}).block, kMaxBlock);
    EXPECT_EQ(parse({"--rate", "8000"}).demoRate, kMinRate);
    EXPECT_EQ(parse({"--rate", "1000000"}).demoRate, kMaxRate);  // all the plug-in runs at
    EXPECT_EQ(parse({"--tail", "0"}).tailSeconds, 0.0);
}

TEST(RenderArgs, RejectsBadUsageWithOneLine) {
    const std::vector<std::vector<const char*>> cases = {
        {"--set", "Gain=1.0001"}, {"--set", "Gain=-0.1"}, {"--set", "Gain=abc"}, {"--set", "Gain=nan"},
        {"--set", "Gain=inf"},    {"--set", "Gain=0.5x"}, {"--set", "Gain="},    {"--set", "Gain"},
        {"--set", "=0.5"},        {"--program", "-1"},    {"--program", "x"},    {"--program", "1.5"},
        {"--program", ""},        {"--block", "0"},       {"--block", "65537"},  {"--block", "-4"},
        {"--block", "12k"},       {"--tail", "-1"},       {"--tail", "x"},       {"--rate", "100"},
        {"--rate", "44100", "in.wav"}, {"a.wav", "b.wav"}, {"--bogus"},        {"-x"},
        {"--block"},              {"-o"},                 {"-o", ""},            {"--help=yes"},
        {"--quiet=1"},            {""},                   {"--rate", "7999"},    {"--rate", "1000001"},
        {"--no-latency-compensation=yes"},
    };
    for (const auto& args : cases) {
        std::string joined;
        for (const char* a : args) joined += std::string(a) + " ";
        SCOPED_TRACE(joined);
        try {
            parseArgs(args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
            EXPECT_FALSE(std::string(e.what()).empty());
        }
    }
}

TEST(RenderArgs, DefaultOutputSitsBesideTheInput) {
    EXPECT_EQ(defaultOutputPath(""), "z5r-demo.wav");
    EXPECT_EQ(defaultOutputPath("take.wav"), "take-z5r.wav");
    EXPECT_EQ(defaultOutputPath("dir/sub/take.two.WAV"), "dir/sub/take.two-z5r.wav");
    EXPECT_EQ(defaultOutputPath("/abs/noext"), "/abs/noext-z5r.wav");
}

TEST(RenderArgs, FindsParametersByNameInAnyCase) {
    const std::vector<std::string> names = {"Oversmpl", "Gain ", "Level", "Triode", "Voltage", "Cap", "Normaliz"};
    EXPECT_EQ(findByName(names, "Oversmpl"), 0);
    EXPECT_EQ(findByName(names, "gain"), 1);  // the plug-in's padding does not matter
    EXPECT_EQ(findByName(names, "NORMALIZ"), 6);
    EXPECT_EQ(findByName(names, " cap "), 5);
    EXPECT_FALSE(findByName(names, "Gai").has_value());
    EXPECT_FALSE(findByName(names, "Capacitor").has_value());
    EXPECT_FALSE(findByName(names, "").has_value());
    EXPECT_FALSE(findByName({}, "Gain").has_value());
}
