// What the stream server reads of its camera and tells it. The camera room's
// WebCam is reached through WebCamStreamCamera; tests use a small camera of
// their own.
#pragma once

#include <string>

namespace vorlix {

struct StreamSettings {
    int port = 6666;                  // "Port Web client" (read when the server starts)
    std::string password;             // "Authentification client", plain text; empty: none
    int frequencyTransfert = 100;     // "Frequency Transfert", ms between two live frames to one client
    int maxClients = 100;             // "Max clients", viewers served at once (read when the server starts)
    bool passwordUnreadable = false;  // "Authentification client" is set but cannot be unscrambled
};

class StreamCamera {
public:
    virtual ~StreamCamera() = default;
    // A copy of the settings as they are now.
    [[nodiscard]] virtual StreamSettings Settings() const = 0;
    // The shot counter: number of the last event picture (not reduced).
    [[nodiscard]] virtual int Shots() const = 0;
    // "Max jpg": the number of pictures in the ring.
    [[nodiscard]] virtual int MaxJpg() const = 0;
    [[nodiscard]] virtual std::string PictureDir() const = 0;
    // A status text for the events list ("New client", ...), untranslated.
    virtual void AddEventText(const std::string& text) = 0;
    // Called on the stream thread when it starts: its priority from section
    // "Vorlix Client", key "Priority".
    virtual void ApplyStreamThreadPriority() = 0;
};

}  // namespace vorlix
