#pragma once

#include <atomic>
#include <vector>

#include "ctl/options.h"
#include "ctl/plan.h"
#include "ctl/record.h"

namespace zfuse::ctl {

// commission PLAN: examines the plan and every file, then serves the devices in
// parallel (read as the "before", the model checked, write, read back and compare, the
// first status telegram as the "after" state), prints a line per device and a summary,
// and writes the record. Returns 0 when every device is verified, else the highest code
// of any device (8 when interrupted).
int runCommission(const Invocation& o);

// backup: every device read into --output DIR/<tag>.txt, with DIR/plan.csv naming them.
int runBackup(const Invocation& o);

// One device of a plan served from start to end; `stop` ends it between exchanges.
// With `write` false the device is read and compared only.
DeviceRecord commissionDevice(const PlanRow& row, const Invocation& o, bool write,
                              const std::atomic<bool>& stop);

}  // namespace zfuse::ctl
