#include "libkestrel/exec/EnvironmentSetting.h"

#include <cstdlib>

namespace kestrel::exec {

const char* EnvironmentSetting(const char* name)
{
    return std::getenv(name);
}

}  // namespace kestrel::exec
