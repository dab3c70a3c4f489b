#include "quelby/discovery/discovery.h"

#include <gtest/gtest.h>

namespace quelby {
namespace {

TEST(ListenerOf, AWebSocketAddressIsLookedUpAgainAtItsHostAndPort) {
    EXPECT_EQ(listener_of(WsTarget{"127.0.0.1:9229/0f2c-uuid", false}),
              InspectorAddress(ListenerAddress{"127.0.0.1:9229"}));
    EXPECT_EQ(listener_of(WsTarget{"[::1]:9229/devtools/page/ABC", true}),
              InspectorAddress(ListenerAddress{"[::1]:9229"}));
    EXPECT_EQ(listener_of(ListenerAddress{"localhost:9229"}),
              InspectorAddress(ListenerAddress{"localhost:9229"}));
}

}  // namespace
}  // namespace quelby
