#include "serveur/core/tests/TestSupport.h"

namespace vorlix::test {

std::vector<std::string> TakeMessagesAt(TraceCapture& traces, int level)
{
    std::vector<std::string> out;
    for (const auto& line : traces.Take()) {
        if (line.level == level) {
            out.push_back(kestrel::test::MessageOf(line.text));
        }
    }
    return out;
}

std::vector<std::uint8_t> FlatFrame(int width, int height, std::uint8_t value, int bpp)
{
    return std::vector<std::uint8_t>(static_cast<std::size_t>(width * height * bpp), value);
}

void PaintBlock(std::vector<std::uint8_t>& frame, int width, int bpp, int x0, int y0, int x1, int y1,
                std::uint8_t value)
{
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            for (int c = 0; c < bpp; ++c) {
                frame[(static_cast<std::size_t>(y) * width + x) * bpp + c] = value;
            }
        }
    }
}

}  // namespace vorlix::test
