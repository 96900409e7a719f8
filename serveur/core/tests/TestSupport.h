// Shared helpers of the camera tests: synthetic frames and a road that
// records what the engine hands down it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "libkestrel/testkit/TestKit.h"
#include "serveur/core/Road.h"
#include "serveur/core/WebCam.h"

namespace vorlix::test {

using kestrel::test::TempDir;
using kestrel::test::TraceCapture;

// The messages at `level` recorded since the last call; the capture forgets them.
std::vector<std::string> TakeMessagesAt(TraceCapture& traces, int level);

// A 24-bit frame of one grey level.
std::vector<std::uint8_t> FlatFrame(int width, int height, std::uint8_t value, int bpp = 3);
// Paints a block (x0, y0) .. (x1, y1) exclusive.
void PaintBlock(std::vector<std::uint8_t>& frame, int width, int bpp, int x0, int y0, int x1, int y1,
                std::uint8_t value);

// Every stop of the road at once, counting what reaches it.
struct RecordingRoad : DetectionClassifier, DetectionConsumer, DisplayHook, DetectionOverlay {
    std::vector<Detection> detections;
    std::vector<PictureRequest> refreshRequests, saveRequests;
    int saves = 0, refreshes = 0, paints = 0, quiet = 0, stops = 0, overlays = 0;
    std::vector<int> tracked;
    std::uint32_t lastColour = 0;
    int lastPosition = -1, rangeHigh = -1;
    DetectionRoad road;

    RecordingRoad()
    {
        road.SetClassifier(this);
        road.SetDisplay(this);
        road.SetOverlay(this);
        road.Add(*this);
    }
    RecordingRoad(const RecordingRoad&) = delete;
    RecordingRoad& operator=(const RecordingRoad&) = delete;

    void Classify(Detection& d) override
    {
        if (d.matched == 1) {
            d.kind = EventKind::IN;
            d.label = "IN" + std::to_string(d.zone + 1);
            return;
        }
        if (d.kind == EventKind::SOMEZ) {
            for (int j = 0; j < d.zoneCount; ++j) {
                if (d.Zone(j).Matched()) {
                    tracked.push_back(j);
                }
            }
        }
    }
    void OnSaveImage(const PictureRequest& r) override
    {
        ++saves;
        saveRequests.push_back(r);
    }
    void OnClientRefresh(const PictureRequest& r) override
    {
        ++refreshes;
        refreshRequests.push_back(r);
    }
    void OnDetection(const Detection& d) override { detections.push_back(d); }
    void OnQuietFrame() override { ++quiet; }
    void OnNewReference() override { ++stops; }
    void SetActivityRange(int, int high) override { rangeHigh = high; }
    void SetActivityPosition(int p) override { lastPosition = p; }
    void SetActivityColour(std::uint32_t c) override { lastColour = c; }
    void DrawDetectionOverlay(const Detection&, std::span<std::uint8_t>, std::span<const std::uint8_t>) override
    {
        ++overlays;
    }
    void Paint(const Frame&, const DisplayMarks&) override { ++paints; }

    void Attach(WebCam& cam) const { cam.SetRoad(&road); }
};

}  // namespace vorlix::test
