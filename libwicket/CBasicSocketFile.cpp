#include "libwicket/CBasicSocketFile.h"

#include <sys/socket.h>

#include <cerrno>

namespace wicket {

CBasicSocketFile::CBasicSocketFile(CBasicSocket& socket, int fullReads)
    : CFile(socket.Handle(), false), socket_(socket), fullReads_(fullReads != 0)
{
}

std::size_t CBasicSocketFile::Read(std::span<std::byte> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::recv(socket_.Handle(), buffer.data() + done, buffer.size() - done, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno("recv");
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
        if (!fullReads_) {
            break;
        }
    }
    return done;
}

void CBasicSocketFile::Write(std::span<const std::byte> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(socket_.Handle(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno("send");
        }
        done += static_cast<std::size_t>(sent);
    }
}

std::int64_t CBasicSocketFile::Seek(std::int64_t /*offset*/, SeekPosition /*from*/)
{
    errno = ESPIPE;
    ThrowErrno("seek");
}

std::int64_t CBasicSocketFile::GetLength() const
{
    errno = ESPIPE;
    ThrowErrno("length");
}

}  // namespace wicket
