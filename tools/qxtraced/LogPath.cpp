#include "tools/qxtraced/LogPath.h"

#include <sys/stat.h>

#include <cerrno>
#include <vector>

namespace qxtraced {

namespace {
constexpr std::size_t kLongestName = 1024;
}  // namespace

std::optional<std::string> ConfineLogName(const std::string& root, const std::string& requested)
{
    if (requested.size() > kLongestName) {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    std::string part;
    const auto flush = [&] {
        if (!part.empty() && part != "." && part != "..") {
            parts.push_back(part);
        }
        part.clear();
    };
    for (const char c : requested) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return std::nullopt;
        }
        if (c == '/' || c == '\\') {
            flush();
        } else {
            part += c;
        }
    }
    flush();
    if (parts.empty()) {
        return std::nullopt;
    }
    std::string path = root.empty() ? "." : root;
    for (const std::string& p : parts) {
        path += '/';
        path += p;
    }
    return path;
}

bool MakeLogDirectories(const std::string& root, const std::string& path)
{
    const std::string base = root.empty() ? "." : root;
    std::size_t at = base.size() + 1;
    for (;;) {
        const std::size_t slash = path.find('/', at);
        if (slash == std::string::npos) {
            return true;
        }
        const std::string directory = path.substr(0, slash);
        struct stat st {};
        if (::lstat(directory.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
        } else if (::mkdir(directory.c_str(), 0750) != 0 && errno != EEXIST) {
            return false;
        }
        at = slash + 1;
    }
}

}  // namespace qxtraced
