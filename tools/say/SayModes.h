#pragma once
// The two ways ravek-say speaks. Each returns the program's exit code.
#include "SayText.h"

namespace say {
// Through the engine service on the session bus (started by the bus when needed).
int SpeakOnBus(const Request& request);
// With an engine in this process, rendering the utterance into request.output.
int RenderToFile(const Request& request);
}  // namespace say
