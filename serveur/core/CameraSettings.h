// The camera object's copies of the INI settings, one field per key.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "serveur/core/ScheduleWord.h"

namespace vorlix {

inline constexpr int kSentinel = 98657;  // read default that tells an absent key

struct FtpSettings {  // section "Vorlix FTP"
    int management = 0;
    std::string server, remoteDir, login, password;
    int port = 21;
    int service = 1;
    int ifproxy = 0;
    std::string proxy;
    int proxyPort = 80;
    std::optional<int> priority;
};

struct ExecuteSettings {  // section "Vorlix Execute"
    int management = 0;
    std::string application;  // cut at 254 characters
    std::string arguments;
    int maxChildren = 4;  // "max children": programs running at once
};

struct CameraSettings {
    // Section "Vorlix"
    int portWebClient = 6666;            // "Port Web client"
    int clientAccess = 1;                // "Client access"
    std::string authentificationClient;  // "Authentification client", plain text
    int frequencyTransfert = 100;        // "Frequency Transfert"
    int refreshPicture = 60;             // "Refresh Picture"
    int currentShots = 0;                // "Current shots" as read at load
    int maxJpg = 500;                    // "Max jpg"
    int qualityJpg = 30;                 // "Quality jpg", 0..100
    std::string filePath;                // "FilePath"
    int windowTop = 251, windowLeft = 388, windowRight = 739, windowBottom = 570;
    int display = 1;                      // "Display"
    std::string editor = "notepad";       // "Editor"
    std::string lang;                     // "LANG"
    std::optional<int> priority;          // "Priority"
    int traceLevel = 0;                   // "Trace level"
    int videoDevice = 0;                  // "VideoDevice"
    int videoFormat = 0;                  // "VideoFormat"
    int fps = 0;                          // "fps"
    int frequency = 90;                   // "Frequency"
    int resizeVideo = 0;                  // "ResizeVideo"
    int schedule = kDefaultSchedule;      // "Schedule"
    int autoStartDetection = 0;           // "Auto Start Detection"
    int noise = 50;                       // "Noise"
    int maxDiff = 500;                    // "MaxDiff"
    int referenceImage = 30;              // "Reference Image"
    int followDetection = 0;              // "follow detection"
    int noEvents = 30;                    // "no events"
    int nbSelection = 1;                  // "NbSelection"
    int savedWidth = 0, savedHeight = 0;  // "width", "height"

    // Section "Vorlix Sound Management"
    int replaySound = 15;  // "Replay Sound"

    // Section "Vorlix Client"
    std::optional<int> clientPriority;  // "Priority"

    // The FTP, mail and audio sections are read by their workers, afresh
    // when they start or reload: no copy here.
    ExecuteSettings execute;
};

// Camera properties of section "Vorlix Format".
inline constexpr const char* kFormatProperties[] = {"Brightness",    "Contrast",      "Hue",
                                                    "Saturation",    "Sharpness",     "Gamma",
                                                    "Color Enabled", "White Balance", "Backlight Compensation",
                                                    "Gain"};
// The keys of "Vorlix Format" present in the file.
std::map<std::string, int> ReadFormatProperties(const std::string& settingsFile);
void WriteFormatProperties(const std::string& settingsFile, const std::map<std::string, int>& values);

// Quality clamp: above 99 or negative gives 100.
int NormalisedJpegQuality(int quality);

FtpSettings ReadFtpSettings(const std::string& settingsFile);

}  // namespace vorlix
