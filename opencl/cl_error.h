// OpenCL status codes by name, for the log.
#pragma once

namespace opencl {

// Text answered for every status code without a name below.
extern const char* const kUnknownClError;  // "Unknown CL Error"

// The Khronos constant name of an OpenCL 2.0 status code: 0, -1 to -19 and
// -30 to -70; kUnknownClError for any other value.
const char* ClErrorName(int status);

// Prints ClErrorName(status) and a newline to standard output unless status
// is 0.
void PrintClError(int status);

}  // namespace opencl
