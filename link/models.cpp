#include "link/models.h"

#include <cstring>

namespace zfuse {

std::optional<uint8_t> modelOfName(const char* name) {
  for (const ModelFacts& m : kModels) {
    if (std::strcmp(m.name, name) == 0) return m.type;
  }
  return std::nullopt;
}

}  // namespace zfuse
