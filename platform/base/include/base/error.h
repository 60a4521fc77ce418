#pragma once

#include <stdexcept>
#include <string>

namespace base {

// The error that operations raise and handlers catch. Its text is meant for the operator and is
// carried as UTF-8, so that the layers written without Qt can raise it too.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace base
