// An owning C stream: closed when it goes away, moved, never copied.
#pragma once

#include <cstdio>
#include <memory>

namespace kestrel {

struct FileCloser {
    // The pointer comes from the unique_ptr that owned it; the check wants a gsl::owner we do not use.
    void operator()(std::FILE* file) const { std::fclose(file); }  // NOLINT(cppcoreguidelines-owning-memory)
};

using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace kestrel
