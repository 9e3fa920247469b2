// Feeds arbitrary bytes as a configuration file to the examiners of both variants, and
// arbitrary parameter sets through the writer and back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "config/configfile.h"
#include "fuzz/filelines.h"

namespace {

using zfuse::fuzz::linesOf;

template <class Exam>
void checkExamination(const Exam& r, int lastCheck) {
  if (r.check < 0 || r.check > lastCheck) std::abort();
  if (r.badNumber && (r.badNumber->size() < 2 || (*r.badNumber)[0] != '$')) std::abort();
  if (r.fields.pgood_index && (*r.fields.pgood_index < 0 || *r.fields.pgood_index > 99)) {
    std::abort();
  }
  for (const auto& c : r.fields.current) {
    if (c && (*c < 0 || *c > 15)) std::abort();
  }
}

// Writes a parameter set made of the input and examines the file again: a written file
// always loads without a failed check and gives back what was written.
void roundTrip(const uint8_t* data, std::size_t size) {
  if (size < 8) return;
  zfuse::ZokxParameterSet z;
  for (int ch = 0; ch < 4; ++ch) z.current_index[ch] = data[ch] % 11;
  z.switch_off_index = data[4] % 9;
  z.port1_byte1 = data[5];
  z.port1_byte2 = data[6];
  const auto tenths = static_cast<uint8_t>(200 + data[7] % 41);
  const std::string text = zfuse::zokxFileText(z, tenths);
  const auto r =
      zfuse::examineZokxFile(linesOf(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  if (r.check != 0 || r.badNumber || r.fields.switch_off_index != z.switch_off_index ||
      r.fields.pgood_index != tenths % 100 || r.fields.port1_byte2 != z.port1_byte2) {
    std::abort();
  }
  for (int ch = 0; ch < 4; ++ch) {
    if (r.fields.current[ch] != z.current_index[ch]) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const zfuse::FileLines lines = linesOf(data, size);
  checkExamination(zfuse::examineStandardFile(lines), 13);
  checkExamination(zfuse::examineZokxFile(lines), 14);
  roundTrip(data, size);
  return 0;
}
