// Feeds arbitrary bytes through the frame assembler into the status decoder and the
// configuration reply decoder, and checks the invariants the display relies on.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/parameterset.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

namespace {

struct Host : zfuse::FrameAssemblerHost, zfuse::StatusDisplay {
  zfuse::FrameAssembler assembler{*this};
  void showActivityIndicator() override {}
  void ausfuehren() override {
    const auto& frame = assembler.frame_buffer;
    if (frame.size() < 4 || frame.size() > zfuse::FrameAssembler::kMaxFrame) std::abort();
    zfuse::decodeStatusFrame(frame, *this);
    if (zfuse::model_2ch_6a + zfuse::model_2ch_10a + zfuse::model_standard + zfuse::model_4ch_10a +
            zfuse::model_4ch_6a !=
        1) {
      std::abort();
    }
    (void)zfuse::decodeStandardReply(frame);
  }
  void startActivityBlink() override {}
  void showStatus(const zfuse::StatusValues& v) override {
    for (const auto& text : v.present) {
      if (text.size() < 5 || text.size() > 8) std::abort();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  zfuse::resetModelFlags();
  Host host;
  for (std::size_t i = 0; i < size; ++i) {
    host.assembler.baue_string(data[i]);
    if (host.assembler.frame_pos > zfuse::FrameAssembler::kMaxFrame) std::abort();
  }
  return 0;
}
