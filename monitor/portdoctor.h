#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace zfuse {

// What stands between a port name and an open port, in plain words with the fix: the
// port doctor of `zfuse --ports`.
struct PortDiagnosis {
  QString com;     // "COM1" ... "COM11"
  QString device;  // the device the name leads to ("?" where that cannot be told)
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

// A USB serial adapter that is plugged in.
struct SerialAdapter {
  QString device;      // /dev/ttyUSB0, /dev/ttyACM0, ...
  QString stableName;  // its name in /dev/serial/by-id, which survives a replug and a
                       // reboot; empty where the system gives it none
};
// The adapters present, /dev/ttyUSB* and /dev/ttyACM* in their numeric order, with their
// stable names. The environment variable ZFUSE_DEV_ROOT (for tests) stands in for /dev:
// the adapters are then looked for in $ZFUSE_DEV_ROOT and their stable names in
// $ZFUSE_DEV_ROOT/serial/by-id.
QList<SerialAdapter> serialAdapters();

// What the doctor heard on a port.
struct Hearing {
  bool listened = false;  // the port could be taken for listening
  qint64 bytes = 0;       // bytes that arrived
  int badFrames = 0;      // frames that are no valid status telegram
  int model = -1;         // type byte of the first valid status telegram, -1 for none
};
// Listens on `device` (9600 8N1, raw, exclusively) for up to `milliseconds` and stops at
// the first valid status telegram.
Hearing listenForFuse(const QString& device, int milliseconds);

// The fuse model a status telegram's type byte names ("4-channel 10 A" for 0x17); empty
// for another byte.
QString fuseModelName(int typeByte);

// The report's lines for one port, wrapped to `width` columns and joined by '\n': name,
// device and why on the first, the verdict on indented lines below.
QString portReportLine(const PortDiagnosis& d, int width = 80);

struct PortDoctorOptions {
  bool listen = true;   // listen for a fuse on every port that can be opened
  int listenMs = 1500;  // how long at the most; the ports are listened to all at once
  int width = 80;       // the terminal's columns
};

// The whole report, one line at a time through `printLine`: for COM1 ... COM11 the
// device, why, and whether it can be opened now (if so, whether a fuse is talking on
// it; if not, why and what to do); the serial adapters present with their stable names
// and the links to make; a summary line. Returns the exit code of the report: 0 when at
// least one port can be opened now, 1 otherwise.
int reportPorts(const std::function<void(const QString&)>& printLine,
                const PortDoctorOptions& options = {});

}  // namespace zfuse
