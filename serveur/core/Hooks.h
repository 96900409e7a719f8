// The stream server's entry point for pictures meant for viewers. The stream
// room implements it; the camera assembly puts a road consumer in front of it.
#pragma once

namespace vorlix {

class ImageNotifier {
public:
    virtual ~ImageNotifier() = default;
    // A null path asks the server to go on with what it has.
    virtual void NotifyNewImage(const char* path) = 0;
};

}  // namespace vorlix
