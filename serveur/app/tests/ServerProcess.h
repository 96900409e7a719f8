// The built programs run as children by the end-to-end tests.
#pragma once

#include "libkestrel/testkit/ChildProcess.h"

namespace vorlix::app::testing {

using ServerProcess = kestrel::test::ChildProcess;

}  // namespace vorlix::app::testing
