#pragma once

#include <QString>

namespace zfuse {

// The lock file of a serial device as the serial library uses it ("LCK..ttyUSB0" in the
// first lock folder it may use), and what it says. Examined with lstat and read without
// blocking and without following links, since the lock folders are writable by all and
// anything may be planted there.
struct PortLock {
  enum State {
    None,     // no lock file: the port is free as far as locks go
    Stale,    // the lock of a process that no longer runs, or whose number another
              // program runs now (for a lock that names its program): it may be taken over
    Live,     // the lock of a running process: the port is busy
    Invalid,  // not a regular file, or no process number in it: the port is busy
  };
  State state = None;
  QString path;     // the lock file, also where one would be made
  qint64 pid = 0;   // the process named in it
  QString program;  // the program named in it; empty for a bare process number
};

PortLock examinePortLock(const QString& device);

// Removes a stale lock; true when it is gone.
bool removeStaleLock(const PortLock& lock);

// The running process's name, for messages ("minicom"); "?" when unknown.
QString processName(qint64 pid);

}  // namespace zfuse
