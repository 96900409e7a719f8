#include "serveur/app/DetachedCamera.h"
#include "serveur/app/ServerCamera.h"

namespace vorlix::app {

std::unique_ptr<CameraPort> MakeServerCamera(const ServerPaths& paths, int /*camera*/)
{
    return std::make_unique<DetachedCamera>(paths);
}

TranslateFn ServerTranslator(const std::string& /*workDir*/, int /*camera*/)
{
    return [](std::string_view text) { return std::string(text); };
}

}  // namespace vorlix::app
