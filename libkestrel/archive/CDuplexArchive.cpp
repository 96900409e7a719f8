#include "libkestrel/archive/CDuplexArchive.h"

namespace kestrel {

CDuplexArchive::CDuplexArchive(CQXArchive* store, CQXArchive* load) : store_(store), load_(load), borrowed_(true) {}

CDuplexArchive::CDuplexArchive(CFile* /*out*/, CFile* /*in*/) : borrowed_(false) {}

CDuplexArchive::~CDuplexArchive()
{
    if (borrowed_) {
        return;
    }
    for (CQXArchive* half : {ownedStore_.get(), ownedLoad_.get()}) {
        if (half != nullptr) {
            try {
                half->Flush();
            } catch (...) {  // NOLINT(bugprone-empty-catch): a destructor cannot report
            }
        }
    }
}

void CDuplexArchive::SetHalves(std::unique_ptr<CQXArchive> store, std::unique_ptr<CQXArchive> load)
{
    borrowed_ = false;
    ownedStore_ = std::move(store);
    ownedLoad_ = std::move(load);
    store_ = ownedStore_.get();
    load_ = ownedLoad_ != nullptr ? ownedLoad_.get() : store_;
}

CQXArchive& CDuplexArchive::Store() const
{
    if (store_ == nullptr) {
        throw CArchiveException(CArchiveException::genericException, __FILE__, __LINE__);
    }
    return *store_;
}

CQXArchive& CDuplexArchive::Load() const
{
    if (load_ == nullptr) {
        throw CArchiveException(CArchiveException::genericException, __FILE__, __LINE__);
    }
    return *load_;
}

// A manipulator works on the duplex itself, so its writes and flush take
// the store half through the operators below.
CQXArchive& CDuplexArchive::operator<<(ArchiveManipulator manipulator)
{
    return manipulator(*this);
}

CQXArchive& CDuplexArchive::operator>>(ArchiveManipulator manipulator)
{
    manipulator(Load());
    return *this;
}

#define KESTREL_DUPLEX_STORE(Type)                     \
    CQXArchive& CDuplexArchive::operator<<(Type value) \
    {                                                  \
        Store() << value;                              \
        return *this;                                  \
    }
#define KESTREL_DUPLEX_LOAD(Type)                       \
    CQXArchive& CDuplexArchive::operator>>(Type& value) \
    {                                                   \
        Load() >> value;                                \
        return *this;                                   \
    }

KESTREL_DUPLEX_STORE(CQueue&)
KESTREL_DUPLEX_STORE(const std::string&)
KESTREL_DUPLEX_STORE(unsigned int)
KESTREL_DUPLEX_STORE(char)
KESTREL_DUPLEX_STORE(short)
KESTREL_DUPLEX_STORE(int)
KESTREL_DUPLEX_STORE(double)
KESTREL_DUPLEX_STORE(float)
KESTREL_DUPLEX_STORE(unsigned long)
KESTREL_DUPLEX_STORE(long)
KESTREL_DUPLEX_STORE(unsigned short)
KESTREL_DUPLEX_STORE(unsigned char)
KESTREL_DUPLEX_LOAD(CQueue)
KESTREL_DUPLEX_LOAD(std::string)
KESTREL_DUPLEX_LOAD(unsigned int)
KESTREL_DUPLEX_LOAD(char)
KESTREL_DUPLEX_LOAD(short)
KESTREL_DUPLEX_LOAD(int)
KESTREL_DUPLEX_LOAD(double)
KESTREL_DUPLEX_LOAD(float)
KESTREL_DUPLEX_LOAD(long)
KESTREL_DUPLEX_LOAD(unsigned long)
KESTREL_DUPLEX_LOAD(unsigned short)
KESTREL_DUPLEX_LOAD(unsigned char)

#undef KESTREL_DUPLEX_STORE
#undef KESTREL_DUPLEX_LOAD

void CDuplexArchive::Flush()
{
    Store().Flush();
}
void CDuplexArchive::Startp()
{
    Store().Startp();
}
void CDuplexArchive::Endp()
{
    Store().Endp();
}
std::uint32_t CDuplexArchive::Backlog()
{
    return Load().Backlog();
}
bool CDuplexArchive::HasMoreData()
{
    return Load().HasMoreData();
}
void CDuplexArchive::ReadAllowed(std::uint32_t n)
{
    Load().ReadAllowed(n);
}
bool CDuplexArchive::IsBlocking()
{
    return Load().IsBlocking();
}
void CDuplexArchive::Blocking(bool blocking)
{
    Load().Blocking(blocking);
}
bool CDuplexArchive::FullPacket()
{
    return Load().FullPacket();
}

}  // namespace kestrel
