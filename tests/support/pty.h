#pragma once

#include <QByteArray>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zfuse::test {

// A pseudo-terminal pair for exercising the real serial code. The tool opens the slave
// end (through a COMn link); the test plays the device on the master end. The slave
// starts with the kernel's default settings (line editing, XON/XOFF), as a fresh tty does.
class PtyPair {
 public:
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }

  // Makes the port name (e.g. "COM1") lead to this pseudo-terminal.
  void linkAs(const std::string& comName) const;

  void send(const std::vector<uint8_t>& bytes) const;
  // Writes bytes as a 9600-baud line delivers them: one every 1.04 ms.
  void sendPaced(const std::vector<uint8_t>& bytes) const;
  // Everything the tool wrote, collected until `quiet` passes without a byte or
  // `limit` runs out.
  std::vector<uint8_t> receive(std::chrono::milliseconds quiet,
                               std::chrono::milliseconds limit) const;
  // Closes the master end: the line hangs up.
  void hangUp();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// Writes the lock file an open of `device` would take, in the name of process `pid`
// running `program`, as a run that still holds the port (or one that crashed) leaves it.
// Returns its path.
std::string writeLockFile(const std::string& device, long pid, const char* program = "zfuse");

// The number of a process that has ended, as a crashed run leaves it in a lock file.
long goneProcess();

// Removes every COMn link of the test run.
void removePortLinks();

// Bytes as the serial line hands them over, and back.
inline std::vector<uint8_t> bytesOf(const QByteArray& a) {
  return {a.begin(), a.end()};
}
inline QByteArray arrayOf(const std::vector<uint8_t>& v) {
  return QByteArray(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size()));
}

}  // namespace zfuse::test
