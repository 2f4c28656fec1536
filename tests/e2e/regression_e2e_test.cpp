// Failure classes SNMP agents are known for, sent to the host on loopback by
// net-snmp's own tools: each must end with an answer or an error in bounded
// time, and leave the host serving.
#include <gtest/gtest.h>

#include <thread>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include "e2e_support.h"

namespace qv::e2e {
namespace {

// A GETBULK with any non-repeaters and max-repetitions, which snmpbulkget
// refuses to send when non-repeaters exceed the bindings. Returns the answer's
// bindings as net-snmp prints them, or one line describing the failure.
std::vector<std::string> RawGetBulk(int port, long nonRepeaters, long maxRepetitions,
                                    const std::vector<std::string>& oids) {
    static const bool initialised = [] {
        ::setenv("MIBS", "", 1);
        init_snmp("qvsnmp-e2e");
        netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_OID_OUTPUT_FORMAT, NETSNMP_OID_OUTPUT_NUMERIC);
        return true;
    }();
    (void)initialised;
    netsnmp_session settings;
    snmp_sess_init(&settings);
    settings.version = SNMP_VERSION_2c;
    std::string community = "public";
    std::string peer = "udp:127.0.0.1:" + std::to_string(port);
    settings.community = reinterpret_cast<u_char*>(community.data());
    settings.community_len = community.size();
    settings.peername = peer.data();
    settings.timeout = 5 * 1000 * 1000;
    settings.retries = 0;
    netsnmp_session* session = snmp_open(&settings);
    if (session == nullptr) return {"cannot open a session"};
    netsnmp_pdu* pdu = snmp_pdu_create(SNMP_MSG_GETBULK);
    pdu->non_repeaters = nonRepeaters;
    pdu->max_repetitions = maxRepetitions;
    for (const std::string& text : oids) {
        oid name[MAX_OID_LEN];
        size_t length = MAX_OID_LEN;
        read_objid(text.c_str(), name, &length);
        snmp_add_null_var(pdu, name, length);
    }
    netsnmp_pdu* response = nullptr;
    std::vector<std::string> lines;
    if (snmp_synch_response(session, pdu, &response) != STAT_SUCCESS || response == nullptr) {
        lines.push_back("no response");
    } else {
        for (netsnmp_variable_list* variable = response->variables; variable; variable = variable->next_variable) {
            char text[512];
            snprint_variable(text, sizeof text, variable->name, variable->name_length, variable);
            lines.emplace_back(text);
        }
    }
    if (response != nullptr) snmp_free_pdu(response);
    snmp_close(session);
    return lines;
}

class HostRegressionTest : public HostFixture {
protected:
    void SetUp() override {
        StartHost();
        application_ = Connect(39917, 1, 1);
        for (int i = 1; i <= 8; ++i) ASSERT_TRUE(application_->Var("1.1." + std::to_string(i), "int", std::to_string(i)));
    }
    void TearDown() override {
        application_.reset();
        if (host_) {
            EXPECT_EQ(host_->Stop(), 0);
        }
    }
    // Still answering.
    void ExpectHostServing() {
        EXPECT_EQ(Get(".1.3.6.1.4.1.39917.1.1.3").output, ".1.3.6.1.4.1.39917.1.1.3 = INTEGER: 3\n");
    }

    std::unique_ptr<Application> application_;
};

TEST_F(HostRegressionTest, GetBulkWithExtremeRepetitionsAndNonRepeaters) {
    const ToolResult none = Tool("snmpbulkget", {"-Cn0", "-Cr0", ".1.3.6.1.4.1.39917"});
    EXPECT_EQ(none.status, 0) << none.output;
    EXPECT_EQ(none.output, "") << "max-repetitions 0 asks for nothing";

    const ToolResult huge = Tool("snmpbulkget", {"-Cn0", "-Cr2147483647", ".1.3.6.1.4.1.39917"});
    EXPECT_EQ(huge.status, 0) << huge.output;
    const auto lines = Lines(huge.output);
    ASSERT_GE(lines.size(), 9u) << huge.output;
    EXPECT_EQ(lines[0], ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 1");
    EXPECT_EQ(lines[7], ".1.3.6.1.4.1.39917.1.1.8 = INTEGER: 8");

    // More non-repeaters than bindings: every binding is a non-repeater.
    EXPECT_EQ(RawGetBulk(port_, 5, 3, {".1.3.6.1.4.1.39917.1.1.1", ".1.3.6.1.4.1.39917.1.1.4"}),
              (std::vector<std::string>{".1.3.6.1.4.1.39917.1.1.2 = INTEGER: 2", ".1.3.6.1.4.1.39917.1.1.5 = INTEGER: 5"}));
    EXPECT_EQ(RawGetBulk(port_, 2147483647, 2147483647, {".1.3.6.1.4.1.39917.1.1.7"}),
              (std::vector<std::string>{".1.3.6.1.4.1.39917.1.1.8 = INTEGER: 8"}));
    ExpectHostServing();
}

TEST_F(HostRegressionTest, GetAndGetNextWithShortOrOverlongOids) {
    // Missing components: above the views, inside a view above any application.
    EXPECT_NE(Tool("snmpget", {".1.3.6.1.4.1"}).output.find("No Such Object"), std::string::npos);
    EXPECT_NE(Tool("snmpget", {".1.3.6.1.4.1.39917.1"}).output.find("No Such"), std::string::npos);
    EXPECT_EQ(Tool("snmpgetnext", {".1.3"}).output.rfind(".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 1", 0), 0u);
    EXPECT_EQ(Tool("snmpgetnext", {".1.3.6.1.4.1.39917.1"}).output, ".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 1\n");

    // 120 sub-identifiers, far more than a message tail holds.
    std::string longOid = ".1.3.6.1.4.1.39917.1.1";
    for (int i = 0; i < 110; ++i) longOid += ".7";
    const ToolResult get = Tool("snmpget", {longOid});
    EXPECT_EQ(get.status, 0) << get.output;
    EXPECT_NE(get.output.find("No Such"), std::string::npos) << get.output;
    const ToolResult next = Tool("snmpgetnext", {longOid});
    EXPECT_EQ(next.status, 0) << next.output;
    EXPECT_EQ(next.output.find("not increasing"), std::string::npos) << next.output;
    ExpectHostServing();
}

TEST_F(HostRegressionTest, ApplicationFallingSilentInTheMiddleOfAWalk) {
    ASSERT_EQ(application_->Command("mode slow 300"), "mode slow");
    std::thread silence([&] {
        std::this_thread::sleep_for(1s);
        application_->Command("mode silent");
    });
    const ToolResult walk = Tool("snmpwalk", {".1.3.6.1.4.1.39917"}, "public", "2c", "10");
    silence.join();
    // The walk ends, with what came before the silence; the host goes on.
    EXPECT_EQ(walk.output.rfind(".1.3.6.1.4.1.39917.1.1.1 = INTEGER: 1", 0), 0u) << walk.output;
    EXPECT_EQ(walk.output.find(".1.3.6.1.4.1.39917.1.1.8"), std::string::npos) << walk.output;
    EXPECT_NE(Get(kStatus).output.find("ApId(1)"), std::string::npos);
    ASSERT_EQ(application_->Command("mode normal"), "mode normal");
    ExpectHostServing();
}

TEST_F(HostRegressionTest, SetsWithEveryValueTypeAndMalformedValues) {
    const std::string target = ".1.3.6.1.4.1.39917.1.1.2";
    // Accepted forms.
    EXPECT_EQ(Tool("snmpset", {target, "i", "5"}).status, 0);
    EXPECT_EQ(Tool("snmpset", {target, "s", "text"}).status, 0);
    EXPECT_EQ(Tool("snmpset", {target, "x", "00FF00"}).status, 0);
    // Every other type reaches the application as "no type" and is refused
    // or taken by it; none may hurt the host.
    const std::vector<std::pair<std::string, std::string>> others{
        {"u", "7"}, {"c", "7"}, {"t", "100"}, {"a", "10.0.0.1"}, {"o", ".1.3.6.1"}, {"b", "1 3"},
        {"U", "42"}, {"I", "-3"}, {"F", "1.5"}, {"D", "2.5"}, {"n", ""}};
    for (const auto& [type, value] : others) {
        std::vector<std::string> arguments{target, type};
        if (!value.empty()) arguments.push_back(value);
        const ToolResult set = Tool("snmpset", arguments);
        EXPECT_NE(set.status, -1) << type << " timed out: " << set.output;
    }
    // Malformed: a string longer than any message can carry.
    const ToolResult tooLong = Tool("snmpset", {target, "s", std::string(2000, 'x')});
    EXPECT_NE(tooLong.status, 0);
    EXPECT_NE(tooLong.output.find("wrongValue"), std::string::npos) << tooLong.output;
    // A SET outside every application and one on the status variable.
    EXPECT_NE(Tool("snmpset", {".1.3.6.1.4.1.39917.9.9.9", "i", "1"}).output.find("Reason"),
              std::string::npos);
    EXPECT_NE(Tool("snmpset", {kStatus, "s", "x"}).output.find("notWritable"), std::string::npos);
    ExpectHostServing();
}

}  // namespace
}  // namespace qv::e2e
