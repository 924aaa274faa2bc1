// Listener events fired by the "listener" command: the 43 callbacks of each listener version, by
// name, with their arguments decoded from the command.
#ifndef KOVA_STANDIN_LISTENER_EVENTS_H
#define KOVA_STANDIN_LISTENER_EVENTS_H

#include <functional>

#include "Json.h"

namespace kova_standin {

// A call of one listener callback, ready to run on an SDK thread; empty when the event is unknown
// or its arguments do not fit.
std::function<void(solvane::kovawin::KOVAListener*)> BindEventV1(const Json& command);
std::function<void(solvane::kovawin::KOVAListenerV2*)> BindEventV2(const Json& command);

}  // namespace kova_standin

#endif  // KOVA_STANDIN_LISTENER_EVENTS_H
