#pragma once

namespace zfuse {

// Message texts of the configuration exchange and files, shared by the dialogs and
// the command line.
inline constexpr const char* kSuccessDe = "Übertragung erfolgreich!";
inline constexpr const char* kSuccessEn = "transmission successful!";
inline constexpr const char* kIncompleteDe = "Bitte alle Felder korrekt ausfüllen";
inline constexpr const char* kIncompleteEn = "all labels fill correctly, please";
inline constexpr const char* kFailedDe = "Kommunikation fehlgeschlagen!";
inline constexpr const char* kFailedEn = "communikation error!";
inline constexpr const char* kVersionPrefix = "Softwareversion: ";
inline constexpr const char* kFileReadDe = "Datei korrekt eingelesen";
inline constexpr const char* kFileReadEn = "read file correctly";
inline constexpr const char* kFileErrorDe = "Datei fehlerhaft C";
inline constexpr const char* kFileErrorEn = "file error C";
inline constexpr const char* kFileSavedDe = "Datei gespeichert";
inline constexpr const char* kFileSavedEn = "file saved";
inline constexpr const char* kFileNotSavedDe = "Datei konnte nicht gespeichert werden";
inline constexpr const char* kFileNotSavedEn = "could not save file";
inline constexpr const char* kVersionAreaDe = "Softwareversion";
inline constexpr const char* kVersionAreaEn = "software version";
inline constexpr const char* kBadIntegerDe = "'%1' ist kein gültiger Integerwert";

}  // namespace zfuse
