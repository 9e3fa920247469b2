#pragma once

#include <span>

#include "windowkit/captions.h"

namespace zfuse {

// The fixed texts of the main window and of both configuration dialogs, German and
// English. The standard dialog's title is not among them: it stays "Parametrierung".
std::span<const Caption> mainWindowCaptions();
std::span<const Caption> standardDialogCaptions();
std::span<const Caption> variantDialogCaptions();

}  // namespace zfuse
