#include "libwicket/CQXProtoDuplexArchive.h"

#include <memory>

namespace wicket {

CQXProtoDuplexArchive::CQXProtoDuplexArchive()
    : CDuplexArchive(static_cast<kestrel::CFile*>(nullptr), static_cast<kestrel::CFile*>(nullptr))
{
}

CQXProtoDuplexArchive::CQXProtoDuplexArchive(CQXProtoArchive* store, CQXProtoArchive* load)
    : CDuplexArchive(store, load), store_(store), load_(load)
{
}

void CQXProtoDuplexArchive::AllocArchives(kestrel::CFile* in, kestrel::CFile* out, kestrel::CQueue* queue)
{
    auto store = std::make_unique<CQXProtoArchive>(out, 0, queue);
    auto load = std::make_unique<CQXProtoArchive>(in, 1, queue);
    store->SetCoded(false);
    load->SetCoded(false);
    store_ = store.get();
    load_ = load.get();
    SetHalves(std::move(store), std::move(load));
}

}  // namespace wicket
