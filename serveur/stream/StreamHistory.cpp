#include "serveur/stream/StreamHistory.h"

#include <cerrno>

#include "libkestrel/framework/SpareFd.h"
#include "libkestrel/trace/TraceLevels.h"
#include "serveur/stream/StreamWire.h"

namespace vorlix {

std::optional<OutgoingFrame> HistoryFrame(const StreamCamera& camera, const std::string& argument,
                                          kestrel::SpareFd& spare)
{
    const int shots = camera.Shots();
    const int modulo = camera.MaxJpg();
    const int number = HistoryPictureNumber(argument, shots, modulo);
    const std::string path = camera.PictureDir() + "/vorlix_" + std::to_string(number) + ".jpg";
    std::shared_ptr<const SharedImage> image = SharedImage::Load(path, &spare);
    if (image == nullptr) {
        TRACE_ERROR("Unable to access jpg file=(%s)(%x)", path.c_str(), static_cast<unsigned>(errno));
        return std::nullopt;
    }
    if (image->Size() == 0) {
        return std::nullopt;
    }
    OutgoingFrame frame;
    frame.header = HistoryFrameHeader(shots, modulo, AsctimeText(image->ModificationTime()), image->Size());
    frame.image = std::move(image);
    frame.history = true;
    return frame;
}

}  // namespace vorlix
