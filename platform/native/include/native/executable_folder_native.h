#pragma once

// Windows only, and free of Qt, so that it builds with a bare cross compiler.

#include <string>

namespace native {

// The folder of the running executable, with a trailing backslash; empty when the system does not
// tell.
std::u16string executableFolderNative();

} // namespace native
