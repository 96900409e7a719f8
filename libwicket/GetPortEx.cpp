#include "libwicket/GetPortEx.h"

#include <netdb.h>
#include <netinet/in.h>

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace wicket {

int GetPortEx(const char* service)
{
    if (service == nullptr || *service == '\0') {
        return 0;
    }
    servent entry{};
    servent* found = nullptr;
    std::array<char, 1024> buffer{};
    if (::getservbyname_r(service, "tcp", &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return ntohs(static_cast<std::uint16_t>(found->s_port));
    }
    const std::string_view text(service);
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error == std::errc() && end == text.data() + text.size() && number > 0 && number <= 65535) {
        return number;
    }
    if (text == "qxtraced") {
        return kQxtracedDefaultPort;
    }
    return 0;
}

}  // namespace wicket
