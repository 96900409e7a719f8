#include "libsorrel/CQXTracedArchive.h"

#include "libkestrel/error/QXError.h"
#include "libkestrel/trace/QXTrace.h"
#include "libsorrel/TraceConnect.h"
#include "libwicket/CNetException.h"
#include "libwicket/GetPortEx.h"

namespace sorrel {

namespace {

const std::string kEtx("\x03");
constexpr const char* kDefaultName = "TRACE";
constexpr auto kConnectLimit = std::chrono::milliseconds(3000);
constexpr auto kIoLimit = std::chrono::milliseconds(10000);

}  // namespace

CQXTracedArchive::CQXTracedArchive(std::uint32_t kind, const char* name, const char* host, const char* service)
    : kind_(kind), name_(name != nullptr ? name : kDefaultName)
{
    const int port = wicket::GetPortEx(service != nullptr ? service : "qxtraced");
    Connect(host != nullptr ? host : "localhost", port);
    AllocArchives(ownFile_.get(), ownFile_.get());
    Login(name_.c_str());
}

CQXTracedArchive::CQXTracedArchive(std::uint32_t kind, const char* name, kestrel::CFile* file)
    : kind_(kind), name_(name != nullptr ? name : kDefaultName)
{
    AllocArchives(file, file);
    Login(name_.c_str());
}

CQXTracedArchive::CQXTracedArchive(std::uint32_t kind, CQXTracedArchive* other)
    : CQXProtoDuplexArchive(other->StoreProto(), other->LoadProto()), kind_(kind), name_(other->name_), borrowed_(true)
{
}

CQXTracedArchive::~CQXTracedArchive() = default;

void CQXTracedArchive::AllocArchives(kestrel::CFile* first, kestrel::CFile* second)
{
    CQXProtoDuplexArchive::AllocArchives(second, first);
}

void CQXTracedArchive::Connect(const char* host, int port)
{
    ownSocket_ = std::make_unique<wicket::CBasicSocket>();
    if (ownSocket_->Create() == 0) {
        WICKET_THROW_NET(wicket::CNetException::kSocketNotCreated, "In CQXTracedArchive::Connect");
    }
    if (!ConnectWithin(*ownSocket_, host != nullptr ? host : "localhost", port, kConnectLimit, nullptr)) {
        WICKET_THROW_NET(wicket::CNetException::kConnectionFailed, "In CQXTracedArchive::Connect");
    }
    SetTraceSocketOptions(ownSocket_->Handle(), kIoLimit);
    ownFile_ = std::make_unique<wicket::CBasicSocketFile>(*ownSocket_, 1);
}

std::string CQXTracedArchive::ReadReply()
{
    wicket::CQXProtoArchive* load = LoadProto();
    for (;;) {
        std::string reply;
        load->Startp();
        *load >> reply;
        load->Endp();
        if (!commandRunner_ || !commandRunner_(reply)) {
            return reply;
        }
    }
}

void CQXTracedArchive::Login(const char* name)
{
    wicket::CQXProtoArchive& store = *StoreProto();
    store.Startp();
    store << std::string("LOGIN") << std::string(" ") << std::string(name != nullptr ? name : kDefaultName);
    store.Endp();
    store.Flush();
    if (ReadReply() != "ACK") {
        WICKET_THROW_NET(wicket::CNetException::kConnectionFailed, "qxtraced has refused the connection");
    }
}

void CQXTracedArchive::SetTitle(const char* title)
{
    wicket::CQXProtoArchive& store = *StoreProto();
    store.Startp();
    store << std::string("TITLE") << kEtx << std::string(title != nullptr ? title : "");
    store.Endp();
    store.Flush();
}

void CQXTracedArchive::SetLogFile(const char* name, int slices)
{
    // The answer's reader is settled before the request leaves, so an
    // answer that comes back at once finds it expected.
    const bool takenElsewhere = replyTaker_ && replyTaker_();
    wicket::CQXProtoArchive& store = *StoreProto();
    store.Startp();
    store << std::string("LOGFILE") << kEtx << slices << kEtx << std::string(name != nullptr ? name : "");
    store.Endp();
    store.Flush();
    if (!takenElsewhere) {
        CheckLogFileReply(ReadReply());
    }
}

void CQXTracedArchive::CheckLogFileReply(const std::string& reply)
{
    if (reply == "ACK") {
        return;
    }
    QXError("%s %s(%d) 0x%X  %s", QXDateAndTime(), QXBasename(__FILE__), __LINE__, QXThreadId(), "");
    QXError("%s", "Unable to setup log file\n");
}

void CQXTracedArchive::Startp()
{
    StoreProto()->Startp();
    *StoreProto() << static_cast<char>(kind_);
    inRecord_ = true;
}

void CQXTracedArchive::Endp()
{
    StoreProto()->Endp();
    inRecord_ = false;
}

kestrel::CQXArchive& CQXTracedArchive::operator<<(const std::string& text)
{
    if (inRecord_) {
        *StoreProto() << text;
        return *this;
    }
    Startp();
    *StoreProto() << text;
    Endp();
    return *this;
}

namespace {
kestrel::CQXArchive& SetKindOf(kestrel::CQXArchive& archive, std::uint32_t kind)
{
    if (auto* traced = dynamic_cast<CQXTracedArchive*>(&archive)) {
        traced->SetKind(kind);
    }
    return archive;
}
}  // namespace

kestrel::CQXArchive& modeLog(kestrel::CQXArchive& archive)
{
    return SetKindOf(archive, CQXTracedArchive::kLog);
}

kestrel::CQXArchive& modeTrace(kestrel::CQXArchive& archive)
{
    return SetKindOf(archive, CQXTracedArchive::kTrace);
}

kestrel::CQXArchive& modeBoth(kestrel::CQXArchive& archive)
{
    return SetKindOf(archive, CQXTracedArchive::kBoth);
}

}  // namespace sorrel
