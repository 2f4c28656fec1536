// The demo application against the agent, as an operator would use it.
#include <signal.h>

#include "sdk_fixture.h"

namespace qv::test {
namespace {

TEST_F(SdkProcessTest, DemoServesItsVariablesAndTableInOrderAndRaisesTrapsOnSignal) {
    ChildProcess& host = StartAgent();
    ChildProcess demo(QV_DEMO, {});
    ASSERT_TRUE(demo.WaitForLine("connected session 0", 30s));

    std::vector<std::string> names;
    std::string at = "1.3.6.1.4.1.39917.1.1";
    for (;;) {
        const std::string answer = Ask(host, "getnext " + at);
        if (answer.rfind("status=0 ", 0) != 0) {
            EXPECT_EQ(answer.substr(0, 8), "status=2") << "the walk ends with noSuchName";
            break;
        }
        at = answer.substr(answer.find("name=") + 5, answer.find(" type=") - answer.find("name=") - 5);
        names.push_back(at.substr(std::string("1.3.6.1.4.1.39917.1.1.").size()));
        ASSERT_LT(names.size(), 30u);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"1", "2", "3", "4", "10.1.1.1", "10.1.1.2", "10.1.1.3", "10.1.2.1",
                                               "10.1.2.2", "10.1.2.3", "10.1.3.1", "10.1.3.2", "10.1.3.3"}));
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.39917.1.1.10.1.2.2"),
              "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.10.1.2.2 type=4 value=\"beta\"");
    EXPECT_EQ(Ask(host, "set 1.3.6.1.4.1.39917.1.1.3 int 250").substr(0, 8), "status=0");
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.39917.1.1.3"), "status=0 index=0 name=1.3.6.1.4.1.39917.1.1.3 type=2 value=250");
    EXPECT_EQ(Ask(host, "set 1.3.6.1.4.1.39917.1.1.3 int 5000").substr(0, 8), "status=3");
    EXPECT_EQ(Ask(host, "set 1.3.6.1.4.1.39917.1.1.1 int 1").substr(0, 8), "status=4");

    demo.Kill(SIGUSR1);
    ASSERT_TRUE(demo.WaitForLine("trap 1: appended, appended", 30s));
    const std::vector<std::string> bindings = TrapBindings(host, 2);
    EXPECT_EQ(bindings, (std::vector<std::string>{"bind name=1.3.6.1.4.1.39917.1.1.1.1 type=2 value=1",
                                                  "bind name=1.3.6.1.4.1.39917.1.1.1.2 type=4 value=\"demo trap 1\""}));

    demo.Kill(SIGTERM);
    EXPECT_TRUE(demo.WaitForLine("stopped", 30s));
    EXPECT_EQ(demo.Wait(30s), 0);
    EXPECT_EQ(Ask(host, "get 1.3.6.1.4.1.44821"),
              "status=0 index=0 name=1.3.6.1.4.1.44821 type=4 value=\"No active session\"");
}

}  // namespace
}  // namespace qv::test
