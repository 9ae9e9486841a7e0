// Asks the system's OpenCL library for the first GPU, the way a host finds
// the name of the user's graphics card.
#pragma once

#include <string>

namespace exthost {

// Name of the first OpenCL GPU device, or "" with the reason in *why.
std::string FirstOpenClGpuName(std::string* why);

// The device persona stands in for the POSIX OpenCL library only.
#if defined(OXRIN_NO_PERSONA)
constexpr bool kPersonaAvailable = false;
#else
constexpr bool kPersonaAvailable = true;
#endif

// Loads the device persona library (before any extension) so it stands in
// for libOpenCL.so.1; the persona reads OXRIN_CL_PERSONA, set here.
bool LoadPersona(const std::string& persona, const std::string& library, std::string* error);

}  // namespace exthost
