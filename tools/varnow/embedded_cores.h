// The two cores built together with `varnow`, embedded in it so that the
// tool works alone once installed. The bytes come from embedded_cores.cpp,
// generated at build time from build/varnow-sfx and build/varnow-sfx.exe.
#pragma once

#include <stdint.h>

#include <span>

std::span<const uint8_t> EmbeddedLinuxCore();
// Empty when the tool was built without the Windows core.
std::span<const uint8_t> EmbeddedWindowsCore();
