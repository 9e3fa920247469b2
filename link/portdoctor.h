#pragma once

#include <QString>
#include <functional>

namespace zfuse {

// What stands between a port name and an open port, in plain words with the fix: the
// port doctor of `zfuse --ports`.
struct PortDiagnosis {
  QString com;     // "COM1" ... "COM11"
  QString device;  // the device the name leads to
  QString source;  // why that device: the link, or the standard port where there is none
  bool openable = false;
  QString verdict;  // "can be opened now", or the trouble and its fix
};

// Looks at the port the way an open would meet it, without keeping it: link, device,
// lock file, permissions. Tries a short open of its own only when nothing else stands
// in the way.
PortDiagnosis diagnosePort(const QString& comName);

// The lock file an open of `device` takes, where one is there now; empty otherwise.
QString portLockFile(const QString& device);

// One line of the report: name, device, why, verdict.
QString portReportLine(const PortDiagnosis& d);

// The whole report of COM1 ... COM11 and a summary line, one line each through
// `printLine`. Returns the exit code of the report: 0 when at least one port can be
// opened now, 1 otherwise.
int reportPorts(const std::function<void(const QString&)>& printLine);

}  // namespace zfuse
