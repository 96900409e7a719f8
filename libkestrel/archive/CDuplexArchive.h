// Two archives behind one: every write goes to the store half, every read
// to the load half (a socket's outgoing and incoming streams).
#pragma once

#include <memory>

#include "libkestrel/archive/CQXArchive.h"

namespace kestrel {

class CDuplexArchive : public CQXArchive {
public:
    // Borrows both halves; they may be the same archive.
    CDuplexArchive(CQXArchive* store, CQXArchive* load);
    // Leaves both halves empty for a subclass to allocate (SetHalves).
    CDuplexArchive(CFile* out, CFile* in);
    // Owned halves are flushed (a failure is discarded) and deleted, once
    // when both are the same object.
    ~CDuplexArchive() override;

    using CQXArchive::operator<<;
    using CQXArchive::operator>>;

    CQXArchive& operator<<(ArchiveManipulator manipulator) override;
    CQXArchive& operator<<(CQueue& queue) override;
    CQXArchive& operator<<(const std::string& text) override;
    CQXArchive& operator<<(unsigned int value) override;
    CQXArchive& operator<<(char value) override;
    CQXArchive& operator<<(short value) override;
    CQXArchive& operator<<(int value) override;
    CQXArchive& operator<<(double value) override;
    CQXArchive& operator<<(float value) override;
    CQXArchive& operator<<(unsigned long value) override;
    CQXArchive& operator<<(long value) override;
    CQXArchive& operator<<(unsigned short value) override;
    CQXArchive& operator<<(unsigned char value) override;
    CQXArchive& operator>>(CQueue& queue) override;
    CQXArchive& operator>>(std::string& text) override;
    CQXArchive& operator>>(unsigned int& value) override;
    CQXArchive& operator>>(char& value) override;
    CQXArchive& operator>>(short& value) override;
    CQXArchive& operator>>(int& value) override;
    CQXArchive& operator>>(double& value) override;
    CQXArchive& operator>>(float& value) override;
    CQXArchive& operator>>(long& value) override;
    CQXArchive& operator>>(unsigned long& value) override;
    CQXArchive& operator>>(unsigned short& value) override;
    CQXArchive& operator>>(unsigned char& value) override;
    // Applies the manipulator to the load half.
    virtual CQXArchive& operator>>(ArchiveManipulator manipulator);

    void Flush() override;
    void Startp() override;
    void Endp() override;
    std::uint32_t Backlog() override;
    bool HasMoreData() override;
    void ReadAllowed(std::uint32_t n) override;
    bool IsBlocking() override;
    void Blocking(bool blocking) override;
    bool FullPacket() override;

    [[nodiscard]] CQXArchive* GetLoad() const { return load_; }
    [[nodiscard]] CQXArchive* GetStore() const { return store_; }

protected:
    // Takes ownership of the halves; `load` may be null to use `store` for both.
    void SetHalves(std::unique_ptr<CQXArchive> store, std::unique_ptr<CQXArchive> load);

private:
    CQXArchive& Store() const;
    CQXArchive& Load() const;

    CQXArchive* store_ = nullptr;
    CQXArchive* load_ = nullptr;
    bool borrowed_;
    std::unique_ptr<CQXArchive> ownedStore_;
    std::unique_ptr<CQXArchive> ownedLoad_;
};

}  // namespace kestrel
