// Releasing the connection objects leaves the device as the connection found it.
#include <gtest/gtest.h>

#include <vector>

#include "comlink/link.h"
#include "measurement/measurement.h"
#include "tests/measurement/fakes.h"

namespace {

TEST(ReleaseConnectionTest, RestoresTheFoundSpeedAndDeletesEverything) {
    MeasurementState state;
    auto* port = new fakes::ScriptedPort;
    port->lineBaud = 4800;  // as the device was found
    std::vector<int> baudsAtRelease;
    bool portDeleted = false;
    port->onDestroy = [&] {
        portDeleted = true;
        baudsAtRelease = port->bauds;
    };
    // The objects as a connection leaves them at 128000 baud.
    state.port = port;
    state.link = new CComLink(port);
    state.lineSettings = new CLineSettings(state.link);
    ASSERT_EQ(state.lineSettings->Set(128000, 'N', 8, 1), 0);
    state.connected = 1;
    port->bauds.clear();

    ReleaseConnection(state);

    EXPECT_TRUE(portDeleted);
    // The snapshot of the connection first (the link's 9600), then the link's own (4800).
    EXPECT_EQ(baudsAtRelease, (std::vector<int>{9600, 4800}));
    EXPECT_EQ(state.port, nullptr);
    EXPECT_EQ(state.link, nullptr);
    EXPECT_EQ(state.lineSettings, nullptr);
    EXPECT_EQ(state.connected, 0);

    ReleaseConnection(state);  // nothing left: harmless
}

}  // namespace
