// Internal to the named events: a named event's shared-memory object "/<name>.<uid>"
// and its holders. Every holder keeps a shared flock on the object; an opener that
// finds no other holder knows the contents were left by holders that died and starts
// the event afresh (reset), and the last live holder to close removes the object.
#pragma once

#include <memory>
#include <string>

#include "platform/sync/NamedEventImpl.h"

namespace platform::event {

// Opens the event's object (creating it when create is set) and becomes one of its
// holders. Null on failure, with the reason in *error when given.
std::unique_ptr<NamedEvent::Impl> OpenNamedEventObject(const std::string& name, bool create, std::string* error);

}  // namespace platform::event
