// A framework file whose reads and writes go to a connected socket, so the
// archives can run over the network. The socket stays owned by its object.
#pragma once

#include "libkestrel/framework/CFile.h"
#include "libwicket/CBasicSocket.h"

namespace wicket {

class CBasicSocketFile : public kestrel::CFile {
public:
    // `fullReads` nonzero: Read waits until the whole buffer is filled or the
    // peer closes (what record framing needs); 0: Read returns what one
    // receive brings.
    CBasicSocketFile(CBasicSocket& socket, int fullReads);

    // The count read; 0 once the peer has closed. Throws CFileException on a
    // socket error.
    std::size_t Read(std::span<std::byte> buffer) override;
    using CFile::Read;
    // Sends every byte or throws CFileException.
    void Write(std::span<const std::byte> bytes) override;
    using CFile::Write;
    // A socket has no position: Seek and GetLength throw.
    std::int64_t Seek(std::int64_t offset, SeekPosition from) override;
    [[nodiscard]] std::int64_t GetLength() const override;
    void Flush() override {}
    // Ends the file; the socket is closed by its own object.
    void Close() override {}

private:
    CBasicSocket& socket_;
    bool fullReads_;
};

}  // namespace wicket
