// The desktop portal as a recording's screen source. When the portal is the chosen
// source (platform/portal/ScreenSourceChoice.h), the control thread starts the screen
// cast before it creates the file, so a portal that is missing or refuses leaves no
// file behind; the video thread then takes the started source over.
//
// TAVREC_PORTAL_TOKEN_FILE names a file holding the portal's restore token: the token
// read from it asks the portal for the same source without asking the user again,
// and the token the portal gives back replaces it. Without that variable nothing is
// kept.
#pragma once

#include <memory>

#include "engine/korvid.h"
#include "platform/portal/PortalScreenSource.h"

namespace korvid {

// Starts the screen cast when the recording has video and the portal is its source.
// False after reporting the failure ("Failed to start the screen cast: ...").
bool PrepareScreenSource(CaptureContext* context);

// The source PrepareScreenSource started for this recording; null when the X11 grab
// records it. Called once, by the video thread.
std::unique_ptr<platform::PortalScreenSource> TakePortalSource(CaptureContext* context);

// Ends a started source no video thread took over.
void DiscardPortalSource(CaptureContext* context);

// The frame format of the source's frames: 32 bits per pixel at its size, rows
// bottom-up. Released with ReleaseBitmapInfo.
BitmapInfoHeader* PortalFrameFormat(const platform::PortalScreenSource& source);

}  // namespace korvid
