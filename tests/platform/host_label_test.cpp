#include "platform/host_label.h"

#include <gtest/gtest.h>

#include "temp_home.h"

namespace {

TEST(HostLabel, PrettyHostnameFromMachineInfo) {
    EXPECT_EQ(HostLabel::prettyHostname("PRETTY_HOSTNAME=\"Portable de Lou\"\nCHASSIS=laptop\n"), "Portable de Lou");
    EXPECT_EQ(HostLabel::prettyHostname("PRETTY_HOSTNAME='L\\'atelier'\n"), "L\\atelier") << "no escapes in single quotes";
    EXPECT_EQ(HostLabel::prettyHostname("PRETTY_HOSTNAME=\"Le \\\"Studio\\\"\""), "Le \"Studio\"");
    EXPECT_EQ(HostLabel::prettyHostname("PRETTY_HOSTNAME=Bureau\\ 3"), "Bureau 3");
    EXPECT_EQ(HostLabel::prettyHostname("# PRETTY_HOSTNAME=no\nICON_NAME=computer\n"), "");
    EXPECT_EQ(HostLabel::prettyHostname("PRETTY_HOSTNAME=\n"), "");
}

TEST(HostLabel, FallsBackToTheHostNameThenToTheSystemsName) {
    TempHome home;
    std::string info = home.write("machine-info", "PRETTY_HOSTNAME=\"Mac de Lou\"\n");
    std::string empty = home.write("machine-info-empty", "CHASSIS=desktop\n");
    EXPECT_EQ(HostLabel::choose(info, "lou-laptop"), "Mac de Lou");
    EXPECT_EQ(HostLabel::choose(empty, "lou-laptop"), "lou-laptop");
    EXPECT_EQ(HostLabel::choose(home.path() + "/missing", "lou-laptop"), "lou-laptop");
    EXPECT_EQ(HostLabel::choose(home.path() + "/missing", ""), "Linux");
    EXPECT_FALSE(HostLabel::current().empty());
}

}  // namespace
