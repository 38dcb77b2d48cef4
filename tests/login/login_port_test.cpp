// The login's own port, 51734, already taken by another program.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "config/config_store.h"
#include "login_rig.h"
#include "loopback_port.h"

namespace {

TEST(LoginPort, APortAlreadyTakenEndsTheLoginBeforeAnyBrowserOpens) {
    // The tests before this one leave loopback connections in TIME_WAIT, and
    // one of them may have had the port as its client side: that passes
    // within a minute. Another program on this machine may hold the port for
    // good: that is the very case under test, only the second half then
    // needs the port back.
    waitForLoopbackPort(OAuthFlow::kDefaultPort);
    const int squatter = bindLoopback(OAuthFlow::kDefaultPort);
    const bool ours = squatter >= 0;
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
    if (ours) ::close(squatter);
    if (!ours) GTEST_SKIP() << "port 51734 held by another program: the login after it frees the port is not run";

    // Once the port is free again, a new login takes it.
    LoginRig rig(OAuthFlow::kDefaultPort);
    ASSERT_TRUE(rig.login());
    EXPECT_TRUE(rig.config().isLoggedIn());
}

}  // namespace
