// Port numbers for service names.
#pragma once

namespace wicket {

// The trace server's port when the services database does not list
// "qxtraced" (add "qxtraced 5370/tcp" to /etc/services to change it).
inline constexpr int kQxtracedDefaultPort = 5370;

// The TCP port of `service`: the services database first, then the text as
// a decimal number (1 to 65535), then the default of "qxtraced"; 0 when the
// service is unknown.
int GetPortEx(const char* service);

}  // namespace wicket
