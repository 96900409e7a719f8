#include "libkestrel/exec/EnvironmentSetting.h"

#include "libkestrel/env/QXGetenv.h"

namespace kestrel::exec {

const char* EnvironmentSetting(const char* name)
{
    return QXGetenv(name);
}

}  // namespace kestrel::exec
