#include "libwicket/RecordItems.h"

#include <algorithm>

#include "libwicket/ProtoRecord.h"

namespace wicket {

RecordItems::RecordItems(std::string payload)
    : file_(std::move(payload)),
      archive_(&file_, kestrel::CArchive::load, std::clamp<std::size_t>(file_.Bytes().size(), 1, 4096))
{
}

RecordItems::~RecordItems() = default;

std::string RecordItems::Text()
{
    std::string text;
    archive_ >> text;
    return text;
}

int RecordItems::Int()
{
    int value = 0;
    archive_ >> value;
    return value;
}

char RecordItems::Char()
{
    char value = 0;
    archive_ >> value;
    return value;
}

RecordBuilder::RecordBuilder() : archive_(std::make_unique<kestrel::CQXArchive>(&file_, kestrel::CArchive::store)) {}

RecordBuilder::~RecordBuilder() = default;

RecordBuilder& RecordBuilder::Text(const std::string& text)
{
    *archive_ << text;
    return *this;
}

RecordBuilder& RecordBuilder::Int(int value)
{
    *archive_ << value;
    return *this;
}

RecordBuilder& RecordBuilder::Char(char value)
{
    *archive_ << value;
    return *this;
}

std::string RecordBuilder::Payload()
{
    archive_->Flush();
    return file_.Bytes();
}

std::string RecordBuilder::Framed()
{
    std::string out;
    AppendRecord(out, Payload());
    return out;
}

}  // namespace wicket
