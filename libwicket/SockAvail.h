// Waiting for data on a socket.
#pragma once

namespace wicket {

// Positive when a receive on `fd` will not block within `milliseconds`
// (data, an orderly close or an error are waiting); 0 when the time passed
// without any; negative (errno set) when the descriptor cannot be waited on.
int SockAvailReadMs(int fd, int milliseconds);

}  // namespace wicket
