// zfusectl's own parsing of outside input: its command line (arguments separated by NUL
// bytes), and a configuration file examined for each model the way write and verify
// examine it before anything is sent. The first byte chooses which.

#include <QCoreApplication>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "config/deviceconfig.h"
#include "ctl/options.h"
#include "fuzz/filelines.h"
#include "link/localnames.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"

namespace {

using zfuse::fuzz::linesOf;

// An argument as zfusectl takes it: every byte kept, and given back as it was.
QString argument(const QByteArray& bytes) {
  const QString text = zfuse::nameFromBytes(bytes);
  if (zfuse::localName(text) != bytes) std::abort();
  return text;
}

void arguments(const uint8_t* data, std::size_t size) {
  QStringList args{QStringLiteral("zfusectl")};
  QByteArray current;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args << argument(current);
      current.clear();
    } else {
      current.append(static_cast<char>(data[i]));
    }
  }
  args << argument(current);
  const zfuse::ctl::Parsed p = zfuse::ctl::parseArguments(args);
  if (!p.invocation) {
    if (p.exit != zfuse::ctl::kSuccess && p.exit != zfuse::ctl::kUsage) std::abort();
    if (p.exit == zfuse::ctl::kUsage && p.err.isEmpty()) std::abort();
    return;
  }
  const zfuse::ctl::Invocation& o = *p.invocation;
  const bool planCommand =
      o.command == zfuse::ctl::Command::Commission || o.command == zfuse::ctl::Command::Backup;
  if (o.command != zfuse::ctl::Command::Ports && !planCommand && o.ports.isEmpty()) std::abort();
  // A plan command has its plan or, backup only, ports with a tag each.
  if (planCommand && o.plan.isEmpty() == o.ports.isEmpty()) std::abort();
  if (o.tags.size() != o.ports.size() && planCommand) std::abort();
  if (o.command == zfuse::ctl::Command::Commission && o.plan.isEmpty()) std::abort();
  for (const QString& port : o.ports) {
    if (port.isEmpty() || o.ports.count(port) != 1) std::abort();
  }
  if (o.retry.retries < 0 || o.retry.intervalMs < 0) std::abort();
}

// A file that fits a model writes a telegram of that model's length, saves as a file that
// fits again with the same settings, and differs from itself in nothing.
void file(const uint8_t* data, std::size_t size) {
  const zfuse::FileLines lines = linesOf(data, size);
  for (uint8_t model : {zfuse::kTypeStandard, zfuse::kType4ch10A, zfuse::kType4ch6A,
                        zfuse::kType2ch10A, zfuse::kType2ch6A}) {
    const zfuse::FileVerdict v = zfuse::examineFileFor(lines, model);
    if (v.result != zfuse::FileVerdict::Good) {
      if (v.result == zfuse::FileVerdict::NotOffered && v.reasons.empty()) std::abort();
      continue;
    }
    const std::size_t length =
        model == zfuse::kTypeStandard ? zfuse::kStandardWriteLength : zfuse::kZokxWriteLength;
    if (zfuse::writeTelegramOf(v.config).size() != length) std::abort();
    if (!zfuse::unsetFields(v.config).empty()) std::abort();
    const std::string text = zfuse::fileTextOf(v.config);
    const zfuse::FileVerdict again = zfuse::examineFileFor(
        linesOf(reinterpret_cast<const uint8_t*>(text.data()), text.size()), model);
    if (again.result != zfuse::FileVerdict::Good || !again.config.sameSettings(v.config)) {
      std::abort();
    }
    if (!zfuse::differences(v.config, again.config).empty()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static auto app = std::make_unique<QCoreApplication>(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  if (data[0] % 2 == 0) {
    arguments(data + 1, size - 1);
  } else {
    file(data + 1, size - 1);
  }
  return 0;
}
