#include <gtest/gtest.h>

#include "tools/qel-server/server_options.h"

namespace qelserver {
namespace {

ParsedOptions parse(std::vector<std::string> args) {
    return parseOptions(args);
}

TEST(ServerOptions, ReadsBothValueFormsAndEveryOption) {
    const ParsedOptions p = parse({"--tcp-port",
                                   "4000",
                                   "--udp-port=4001",
                                   "--seed",
                                   "18446744073709551615",
                                   "--refuse-announce=status",
                                   "--refuse-status",
                                   "E_QELPS_NOTFOUND",
                                   "--refuse-error",
                                   "no such user",
                                   "--ignore-udp",
                                   "--no-ping-answer",
                                   "--no-primer",
                                   "--loss",
                                   "12.5",
                                   "--jitter=30",
                                   "--reorder",
                                   "2",
                                   "--disconnect-after",
                                   "1500",
                                   "--netstate-interval",
                                   "250",
                                   "--stall",
                                   "300",
                                   "--stall-every=15000"});
    ASSERT_EQ(p.error, "");
    const ServerOptions& o = p.options;
    EXPECT_EQ(o.tcpPort, 4000);
    EXPECT_EQ(o.udpPort, 4001);
    EXPECT_TRUE(o.seedGiven);
    EXPECT_EQ(o.seed, UINT64_MAX);
    EXPECT_EQ(o.refusal, AnnounceRefusal::Status);
    EXPECT_EQ(o.refusalStatus, 4);
    EXPECT_EQ(o.refusalError, "no such user");
    EXPECT_TRUE(o.ignoreUdp);
    EXPECT_TRUE(o.noPingAnswer);
    EXPECT_FALSE(o.primer);
    EXPECT_DOUBLE_EQ(o.impairment.lossPercent, 12.5);
    EXPECT_EQ(o.impairment.jitterMs, 30u);
    EXPECT_DOUBLE_EQ(o.impairment.reorderPercent, 2);
    EXPECT_EQ(o.disconnectAfterMs, 1500u);
    EXPECT_EQ(o.netstateIntervalMs, 250u);
    EXPECT_EQ(o.impairment.stallMs, 300u);
    EXPECT_EQ(o.impairment.stallEveryMs, 15000u);
    EXPECT_TRUE(parse({"--stall", "100"}).options.impairment.active());
    EXPECT_FALSE(p.help);
    EXPECT_TRUE(parse({}).options.primer);
    EXPECT_FALSE(parse({"--no-echo-primer"}).options.primer) << "the older name still works";
}

TEST(ServerOptions, RejectsWhatItCannotHonour) {
    const std::vector<std::vector<std::string>> bad = {
        {"--tcp-port", "65536"},
        {"--tcp-port", "-1"},
        {"--udp-port", "12x"},
        {"--loss", "101"},
        {"--loss", "nan"},
        {"--reorder", ""},
        {"--refuse-announce", "maybe"},
        {"--refuse-status", "1"},  // OK is no refusal
        {"--refuse-status", "E_QELPS_TRYING"},
        {"--refuse-status", "9"},
        {"--refuse-error", std::string(63, 'e')},
        {"--netstate-interval", "0"},
        {"--stall-every", "0"},
        {"--stall", "500", "--stall-every", "500"},  // a stall that never ends
        {"--seed"},
        {"--ignore-udp=yes"},
        {"--frobnicate"}};
    for (const auto& args : bad) {
        EXPECT_NE(parse(args).error, "") << args[0] << " " << (args.size() > 1 ? args[1] : "");
    }
}

TEST(ServerOptions, HelpListsEveryOption) {
    EXPECT_TRUE(parse({"--help"}).help);
    const std::string text = helpText("qel-server");
    for (const char* name :
         {"--tcp-port", "--udp-port", "--seed", "--refuse-announce", "--refuse-status",
          "--refuse-error", "--ignore-udp", "--no-ping-answer", "--no-primer", "--loss", "--jitter", "--reorder",
          "--disconnect-after", "--netstate-interval", "--stall", "--stall-every", "--verbose"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace qelserver
