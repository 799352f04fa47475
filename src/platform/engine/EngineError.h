// The composition engine reports load and set-up failures as this exception;
// its text is "\"<file>\": what failed" where a file is concerned.
#pragma once

#include <stdexcept>

namespace lumivane {

class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace lumivane
