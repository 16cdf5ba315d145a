#pragma once

typedef struct _GstElement GstElement;

// The listener's volume and mute on whichever pipeline plays: playbin's own
// stream volume, or the feed pipeline's volume element.
namespace gstvolume {

// `volume` on a perceptual scale, 0..1. Nothing without a pipeline.
void apply(GstElement *pipeline, double volume, bool muted);
// The linear volume the pipeline has, 0 when muted; -1 without one.
double linear(GstElement *pipeline);

} // namespace gstvolume
