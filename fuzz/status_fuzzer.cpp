// Feeds arbitrary bytes through the frame assembler into the status decoder and both
// configuration reply decoders, and checks the invariants the display relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/parameterset.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  zfuse::FrameAssembler assembler([](const std::vector<uint8_t>& frame) {
    if (frame.size() < 4 || frame.size() > zfuse::FrameAssembler::kMaxFrame) std::abort();
    if (zfuse::checkStatusTelegram(frame) == zfuse::StatusCheck::Good) {
      const zfuse::StatusReading r = zfuse::decodeStatusReading(frame);
      if (!zfuse::isModelType(r.type)) std::abort();
      for (uint8_t rated : r.rated) {
        if (rated > 15) std::abort();
      }
    }
    (void)zfuse::decodeStandardReply(frame);
    if (const auto reply = zfuse::decodeZokxReply(frame)) {
      if (!zfuse::isFuseVariant(reply->model)) std::abort();
    }
  });
  assembler.feed(data, size);
  if (assembler.position() > zfuse::FrameAssembler::kMaxFrame) std::abort();
  // The replies arrive unframed on the configuration exchange: the whole input too.
  const std::vector<uint8_t> whole(data, data + size);
  (void)zfuse::decodeStandardReply(whole);
  (void)zfuse::decodeZokxReply(whole);
  return 0;
}
