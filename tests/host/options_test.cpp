#include <gtest/gtest.h>

#include "host/options.h"

namespace qv::host {
namespace {

std::optional<Options> Parse(std::vector<std::string> arguments, std::string* reason = nullptr) {
    std::string error;
    auto options = ParseOptions(arguments, error);
    if (reason != nullptr) *reason = error;
    if (!options) {
        EXPECT_FALSE(error.empty());
    }
    return options;
}

TEST(OptionsTest, DefaultsToLoopbackPortAndPublicReadOnlyAndTakesRepeatedListenersAndSinks) {
    auto options = Parse({});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->listen, std::vector<std::string>{"udp:127.0.0.1:1161"});
    EXPECT_EQ(options->roCommunity, "public");
    EXPECT_TRUE(options->rwCommunity.empty()) << "no SET unless asked for";
    EXPECT_TRUE(options->agentxSocket.empty());

    options = Parse({"--listen", "udp:127.0.0.1:2000", "--listen", "tcp:127.0.0.1:2001", "--trap-sink", "127.0.0.1:9162",
                     "--trap-sink", "localhost", "--rw-community", "private"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->listen, (std::vector<std::string>{"udp:127.0.0.1:2000", "tcp:127.0.0.1:2001"}));
    EXPECT_EQ(options->trapSinks, (std::vector<std::string>{"127.0.0.1:9162", "localhost"}));
    EXPECT_EQ(options->rwCommunity, "private");
}

TEST(OptionsTest, AgentxReplacesTheListenersAndTakesTheMastersTimeout) {
    const auto options = Parse({"--agentx", "/run/agentx", "--agentx-timeout", "5"});
    ASSERT_TRUE(options);
    EXPECT_EQ(options->agentxSocket, "/run/agentx");
    EXPECT_TRUE(options->listen.empty());
    EXPECT_EQ(options->agentxTimeoutSeconds, 5);
}

TEST(OptionsTest, RefusesWhatCannotWork) {
    std::string reason;
    EXPECT_FALSE(Parse({"--bogus"}, &reason));
    EXPECT_EQ(reason, "unknown argument --bogus");
    EXPECT_FALSE(Parse({"--listen"}, &reason));
    EXPECT_EQ(reason, "--listen needs a value");
    EXPECT_FALSE(Parse({"--agentx", "/s", "--listen", "udp:1"}));
    EXPECT_FALSE(Parse({"--agentx", "/s", "--trap-sink", "h"}));
    EXPECT_FALSE(Parse({"--agentx-timeout", "0"}));
    EXPECT_FALSE(Parse({"--agentx-timeout", "2s"}));
    EXPECT_FALSE(Parse({"--rw-community", "public"}));
}

TEST(OptionsTest, SinkPeerNamesGetTheTrapPort) {
    EXPECT_EQ(SinkPeerName("127.0.0.1"), "udp:127.0.0.1:162");
    EXPECT_EQ(SinkPeerName("127.0.0.1:9162"), "udp:127.0.0.1:9162");
}

}  // namespace
}  // namespace qv::host
