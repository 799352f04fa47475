// A call over the render link that failed: an error reply, a closed
// connection or no reply in time.
#pragma once

#include <stdexcept>

namespace lumivane {

class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace lumivane
