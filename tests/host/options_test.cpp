#include <gtest/gtest.h>

#include "host/options.h"

namespace qv::host {
namespace {

TEST(OptionsTest, DefaultsToLoopbackAndPublicReadOnlyAndTakesRepeatedFlags) {
    std::string error;
    auto options = ParseOptions({}, error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->listen, std::vector<std::string>{"udp:127.0.0.1:1161"});
    EXPECT_EQ(options->roCommunity, "public");
    EXPECT_TRUE(options->rwCommunity.empty()) << "no SET unless asked for";

    options = ParseOptions({"--listen", "udp:127.0.0.1:2000", "--listen", "tcp:127.0.0.1:2001", "--trap-sink", "a",
                            "--trap-sink", "b:9162", "--module", "/m.so"},
                           error);
    ASSERT_TRUE(options);
    EXPECT_EQ(options->listen, (std::vector<std::string>{"udp:127.0.0.1:2000", "tcp:127.0.0.1:2001"}));
    EXPECT_EQ(options->trapSinks, (std::vector<std::string>{"a", "b:9162"}));
    EXPECT_EQ(options->modulePath, "/m.so") << "the host would find a module of the default places";
    EXPECT_EQ(SinkPeerName(options->trapSinks[0]), "udp:a:162");
    EXPECT_EQ(SinkPeerName(options->trapSinks[1]), "udp:b:9162");
    options = ParseOptions({"--agentx", "/run/agentx", "--agentx-timeout", "5"}, error);
    ASSERT_TRUE(options);
    EXPECT_TRUE(options->listen.empty()) << "the master owns the ports";
    EXPECT_EQ(options->agentxTimeoutSeconds, 5);
}

TEST(OptionsTest, RefusesWhatCannotWork) {
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"--bogus"}, {"--listen"}, {"--agentx", "/s", "--listen", "udp:1"}, {"--agentx", "/s", "--trap-sink", "h"},
             {"--agentx-timeout", "0"}, {"--agentx-timeout", "2s"}, {"--rw-community", "public"}}) {
        std::string error;
        EXPECT_FALSE(ParseOptions(arguments, error)) << arguments[0];
        EXPECT_FALSE(error.empty()) << arguments[0];
    }
}

}  // namespace
}  // namespace qv::host
