// Small socket helpers shared by the library and its callers.
#pragma once

namespace wicket {

// Switches a descriptor to blocking (true) or non-blocking (false) mode.
// Returns false with errno set when the switch fails.
bool SetBlocking(int fd, bool blocking);

// Whether `error` (an errno value) means "the call would have had to wait".
bool IsWouldBlock(int error);

// The socket layer's would-block code, as kept in the socket error slot.
inline constexpr unsigned int kWouldBlock = 10035;

}  // namespace wicket
