// A duplex archive whose two halves are protocol archives: records written
// to the store half, records read from the load half, usually over the same
// socket file.
#pragma once

#include "libkestrel/archive/CDuplexArchive.h"
#include "libwicket/CQXProtoArchive.h"

namespace wicket {

class CQXProtoDuplexArchive : public kestrel::CDuplexArchive {
public:
    // No halves yet: AllocArchives makes them.
    CQXProtoDuplexArchive();
    // Borrows two protocol archives made elsewhere.
    CQXProtoDuplexArchive(CQXProtoArchive* store, CQXProtoArchive* load);
    ~CQXProtoDuplexArchive() override = default;

    CQXProtoDuplexArchive(const CQXProtoDuplexArchive&) = delete;
    CQXProtoDuplexArchive& operator=(const CQXProtoDuplexArchive&) = delete;

    // Makes and owns the two halves, both uncoded: the load half reads `in`,
    // the store half writes `out` (the same file for a socket). The queue is
    // not used. The files stay the caller's.
    void AllocArchives(kestrel::CFile* in, kestrel::CFile* out, kestrel::CQueue* queue = nullptr);

    [[nodiscard]] CQXProtoArchive* StoreProto() const { return store_; }
    [[nodiscard]] CQXProtoArchive* LoadProto() const { return load_; }

    // The class name, for callers that tell archives apart at run time.
    static const char* GetThisClass() { return "CQXProtoDuplexArchive"; }

private:
    CQXProtoArchive* store_ = nullptr;
    CQXProtoArchive* load_ = nullptr;
};

}  // namespace wicket
