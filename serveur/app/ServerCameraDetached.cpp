#include <memory>

#include "serveur/app/DetachedCamera.h"
#include "serveur/app/Language.h"
#include "serveur/app/ServerCamera.h"

namespace vorlix::app {

std::unique_ptr<CameraPort> MakeServerCamera(const ServerPaths& paths, int /*camera*/)
{
    return std::make_unique<DetachedCamera>(paths);
}

TranslateFn ServerTranslator(const std::string& workDir, int camera)
{
    const ServerPaths paths = MakeServerPaths(workDir, camera);
    auto files = std::make_shared<LanguageFiles>(workDir, LanguageName(paths.settingsFile));
    return [files](std::string_view text) { return files->Translate(text); };
}

}  // namespace vorlix::app
