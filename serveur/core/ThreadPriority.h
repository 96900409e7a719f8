// Worker-thread priority from the "Priority" key of a section.
#pragma once

#include <string>

namespace vorlix {

// The nice value for a priority number: 1 idle .. 7 time critical; other
// numbers keep their meaning on that scale (nice = -number).
int NiceFromPriority(int priority);

// Applies "Priority" of `section` to the calling thread; absent: unchanged.
// A refusal is traced "Error on ChangeThreadPriority (%d,%s)". Returns false then.
bool SetThreadPriorityFromIni(const std::string& settingsFile, const std::string& section);

}  // namespace vorlix
