#include "serveur/app/MessageSink.h"

#include <cstdio>

#include "libkestrel/trace/TraceLevels.h"

namespace vorlix::app {

void HeadlessMessageSink::Show(const std::string& text, const std::string& caption)
{
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    TRACE_WARN("%s: %s", caption.c_str(), text.c_str());
}

}  // namespace vorlix::app
