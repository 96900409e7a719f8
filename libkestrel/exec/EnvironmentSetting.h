// Where the exec module reads its environment settings ("APSHELL", "SHELL").
#pragma once

namespace kestrel::exec {

// The value of an environment setting, or null when it has none.
const char* EnvironmentSetting(const char* name);

}  // namespace kestrel::exec
