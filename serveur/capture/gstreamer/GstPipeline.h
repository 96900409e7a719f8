// The text of the capture pipeline for each kind of source, up to the
// appsink that hands 24-bit RGB frames to the capture layer.
#pragma once

#include <string>

namespace vorlix::capture {

enum class GstSourceKind { Pipeline, Uri, Monitor, TestPattern };

// The name of the appsink, of the element with the picture controls of the
// test camera, and of the caps filter a device source is linked to.
inline constexpr const char* kAppSinkName = "sink";
inline constexpr const char* kBalanceName = "balance";
inline constexpr const char* kFilterName = "filter";

// `source`: the pipeline text (Pipeline) or the URI (Uri); `caps`: the
// mode's caps filter (Monitor, TestPattern); `fps` above 0 caps the rate.
// A Monitor pipeline starts at its caps filter: the device's own element is
// linked in front of it once the pipeline is built.
std::string PipelineText(GstSourceKind kind, const std::string& source, const std::string& caps, int fps);

}  // namespace vorlix::capture
