#pragma once

// Symbols of the host framework are imported by the plug-in from the hosting process. The plug-in
// is built with hidden visibility, so every host declaration it references must say "default".
#define SMD_HOST_API __attribute__((visibility("default")))
