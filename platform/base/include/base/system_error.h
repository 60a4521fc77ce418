#pragma once

#include <string>

namespace base {

// The operating system's error codes in the operator's language. The kit runs on Russian
// systems, where the system itself words these errors in Russian; the common ones are worded here
// the same way on every platform, the rest fall back to the system's own text.
//
// `code` is an errno value, or on Windows a GetLastError() value for systemErrorText and an errno
// value for errnoText. The text is UTF-8 and has no trailing full stop.
std::string errnoText(int code);
#ifdef _WIN32
std::string systemErrorText(unsigned long code);
#endif

} // namespace base
