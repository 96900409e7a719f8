#include "libkestrel/env/QXGetenv.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "libkestrel/framework/QXException.h"
#include "libkestrel/profile/Profile.h"

namespace {

constexpr std::size_t kValueBufferSize = 256;

std::string RegistryFile()
{
    const char* path = std::getenv(kestrel::kRegistryFileVariable);
    return (path != nullptr && *path != '\0') ? path : kestrel::kDefaultRegistryFile;
}

// Copies the settings file's value into `buffer`; throws when it is missing
// or does not fit, so that every failure takes the one fallback path.
void ReadSetting(const char* subKey, const char* name, char (&buffer)[kValueBufferSize])
{
    const auto value = kestrel::profile::Read(RegistryFile(), subKey, name);
    if (!value) {
        KESTREL_THROW_GENERAL(1, "Setting not found");
    }
    if (value->size() >= kValueBufferSize || value->find('\0') != std::string::npos) {
        KESTREL_THROW_GENERAL(1, "Setting does not fit");
    }
    std::memcpy(buffer, value->c_str(), value->size() + 1);
}

}  // namespace

const char* QXGetKey(kestrel::RegistryRoot /*root*/, const char* subKey, const char* name)
{
    if (name == nullptr) {
        return nullptr;
    }
    thread_local char buffer[kValueBufferSize];
    try {
        ReadSetting(subKey != nullptr ? subKey : "", name, buffer);
        return buffer;
    } catch (const kestrel::CGeneralException&) {
        return std::getenv(name);
    }
}

const char* QXGetenv(const char* name)
{
    return QXGetKey(kestrel::RegistryRoot::LocalMachine, kestrel::kEnvironmentKey, name);
}
