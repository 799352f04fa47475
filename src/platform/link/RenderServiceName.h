// Render service names: "net.orbek.Lumivane.<pid>.<monotonic ns>", both in
// lowercase hexadecimal. Made anew for every render job.
#pragma once

#include <string>

namespace lumivane {

// Two calls in one process never give the same name: the clock value is raised
// past the last one handed out when the clock has not moved.
std::string makeRenderServiceName();

}  // namespace lumivane
