// The items of one record, for a peer that takes whole records from a
// RecordReader and answers with records of its own (the trace server, test
// peers). The encoding is the archives' own (CQXArchive), the same as that
// of the protocol archives.
#pragma once

#include <memory>
#include <string>

#include "libkestrel/archive/CQXArchive.h"
#include "libwicket/MemoryFile.h"

namespace wicket {

// Reads the items of a payload in order. An item that runs past the end
// throws CArchiveException (endOfFile).
class RecordItems {
public:
    explicit RecordItems(std::string payload);
    ~RecordItems();
    RecordItems(const RecordItems&) = delete;
    RecordItems& operator=(const RecordItems&) = delete;

    std::string Text();
    int Int();
    char Char();

private:
    MemoryFile file_;
    kestrel::CQXArchive archive_;
};

// Builds the payload of a record, then frames it.
class RecordBuilder {
public:
    RecordBuilder();
    ~RecordBuilder();
    RecordBuilder(const RecordBuilder&) = delete;
    RecordBuilder& operator=(const RecordBuilder&) = delete;

    RecordBuilder& Text(const std::string& text);
    RecordBuilder& Int(int value);
    RecordBuilder& Char(char value);
    // The payload so far.
    [[nodiscard]] std::string Payload();
    // Length header and payload, ready to send.
    [[nodiscard]] std::string Framed();

private:
    MemoryFile file_;
    std::unique_ptr<kestrel::CQXArchive> archive_;
};

}  // namespace wicket
