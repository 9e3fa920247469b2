#pragma once

namespace zfuse {

// Qt's own texts (the file dialogs, their overwrite question, the Yes and No buttons)
// in German while German is chosen, with the translations Qt installs beside itself;
// Qt's English otherwise. Called by every language switch; the translation is loaded
// once and kept for the next switch to German.
void useQtTranslations(bool german);

}  // namespace zfuse
