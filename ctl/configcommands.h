#pragma once

#include "ctl/options.h"

namespace zfuse::ctl {

// read, write and verify: every port served on a thread of its own, one result line
// per port in the order the ports were named. Returns the highest exit code of any port.
int runConfigCommand(const Invocation& o);

}  // namespace zfuse::ctl
