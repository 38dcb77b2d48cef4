// The login's own port, 51734, already taken by another program.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/config_store.h"
#include "login_rig.h"

namespace {

TEST(LoginPort, APortAlreadyTakenEndsTheLoginBeforeAnyBrowserOpens) {
    int squatter = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(OAuthFlow::kDefaultPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Like the listener, the squatter binds over connections of an earlier
    // login still in TIME_WAIT: only a program listening there stops it.
    const int reuse = 1;
    ::setsockopt(squatter, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    // Another program on this machine may hold the port already: that is the
    // very case under test, only the second half then needs the port back.
    const bool ours = ::bind(squatter, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (ours) {
        ASSERT_EQ(::listen(squatter, 4), 0);
    }
    {
        LoginRig rig(OAuthFlow::kDefaultPort);
        EXPECT_EQ(rig.flow->redirectUri(), "http://127.0.0.1:51734/callback");
        ASSERT_TRUE(rig.login());
        LoginError e = rig.error();
        EXPECT_EQ(e.code, "listen_failed");
        EXPECT_EQ(e.message, "Port 51734 occupé : Address already in use");
        EXPECT_TRUE(rig.browser.openedUrls().empty());
        EXPECT_EQ(rig.statuses.size(), 1u);
        EXPECT_TRUE(rig.quiet()) << "nothing left running";
        EXPECT_FALSE(ConfigStore::load().isLoggedIn());
    }
    ::close(squatter);
    if (!ours) GTEST_SKIP() << "port 51734 held by another program: the login after it frees the port is not run";

    // Once the port is free again, a new login takes it.
    LoginRig rig(OAuthFlow::kDefaultPort);
    ASSERT_TRUE(rig.login());
    EXPECT_TRUE(rig.config().isLoggedIn());
}

}  // namespace
