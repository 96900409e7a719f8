#include "serveur/app/DetachedCamera.h"

#include "libkestrel/profile/Profile.h"

namespace vorlix::app {

DetachedCamera::DetachedCamera(const ServerPaths& paths) : settings_(paths.settingsFile)
{
    ReloadConfiguration();
}

void DetachedCamera::ReloadConfiguration()
{
    namespace profile = kestrel::profile;
    autoStart_ = profile::GetInt(settings_, "Vorlix", "Auto Start Detection", 0) == 1;
    shots_ = profile::GetInt(settings_, "Vorlix", "Current shots", 0);
    maxJpg_ = profile::GetInt(settings_, "Vorlix", "Max jpg", 500);
    schedule_ = profile::GetInt(settings_, "Vorlix", "Schedule", 737407);
}

}  // namespace vorlix::app
