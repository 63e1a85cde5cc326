// Configures and starts the server as a fixture asks.
#pragma once

#include <cstdint>
#include <string>

#include "fixture.h"
#include "kivimap/kivimap.h"

namespace fixture_host {

// Loads the fixture's "config" text, sets BindIP "127.0.0.1" and Port 0, then the fixture's
// properties in order, then starts.
//
// Port 0 means any free port. The server binds exactly the low 16 bits of Port and offers no
// way to learn a port the kernel picked, so when those bits are 0 at Start the host picks the
// port itself: it binds a probe socket to 127.0.0.1:0, reads the port the kernel gave it,
// closes it and sets Port to that number (keeping Port's high bits). Another process may take
// the port between the probe and Start; a bind that then fails with "address in use" is retried
// with a new probe a few times. A port the fixture names is used as it is, never retried.
//
// On success *port is the TCP port listened on. On failure *error_line is
// "ERROR 0x%08X <description>" from the thread's error record.
bool ConfigureAndStart(kivimap::IkivImapServer* server, const Fixture& fixture, std::uint16_t* port,
                       std::string* error_line);

}  // namespace fixture_host
