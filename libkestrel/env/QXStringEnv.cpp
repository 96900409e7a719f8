// QXString's variable expansion lives with the environment look-up it needs.
#include "libkestrel/env/CVarExpander.h"
#include "libkestrel/framework/QXString.h"

namespace kestrel {

bool QXString::extractEnvVar()
{
    CEnvVarExpander expander;
    expander.expand(*this);
    return expander.allFound();
}

}  // namespace kestrel
