#pragma once

#include <optional>

typedef struct _GstElement GstElement;

// Levelling the decoded audio of either pipeline: a bin that measures the
// station's own loudness (a LoudnessMeter fed on the streaming thread) and
// applies a gain of its own, apart from the listener's volume:
//   audioconvert ! F32 ! audioamplify (the gain) ! rglimiter !
//   audioamplify (-1 dB) ! audioconvert
// While the gain lifts, the limiter keeps every sample under -1 dBFS (the
// gain is raised by 1 dB before it and lowered as much after, so what stays
// under the limiter's knee is heard at the gain itself); otherwise the
// limiter passes the audio through.
namespace gstloudness {

// A new bin (floating), or null when an element is missing. The pipeline
// that takes it in, as a child or as playbin's audio filter, is told so by
// attach().
GstElement *makeBin();
void attach(GstElement *pipeline, GstElement *bin);
// The loudness heard before the gain since the last call, in LUFS (-inf
// for digital silence); none without a bin or while too little came.
std::optional<double> take(GstElement *pipeline);
// The gain in dB; off passes the audio through untouched.
void setGain(GstElement *pipeline, double db, bool on);

} // namespace gstloudness
