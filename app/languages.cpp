#include "app/languages.h"

#include <vector>

namespace zfuse {

namespace {

// In menu titles and items "&" marks the letter that opens or picks them with the
// keyboard (Alt+D opens "Datei"); the marker is not shown. The letters differ within
// each menu bar and each menu, in both languages.

const Caption kMainWindow[] = {
    {"", "Visualisierung", "visualization"},
    {"Label1", "aktueller Strom", "output current"},
    {"k1", "Kanal 1:", "channel 1:"},
    {"k2", "Kanal 2:", "channel 2:"},
    {"k3", "Kanal 3:", "channel 3:"},
    {"k4", "Kanal 4:", "channel 4:"},
    {"Label2", "maximaler Strom", "maximum output current"},
    {"k1_1", "Kanal 1:", "channel 1:"},
    {"k1_2", "Kanal 2:", "channel 2:"},
    {"k1_3", "Kanal 3:", "channel 3:"},
    {"k1_4", "Kanal 4:", "channel 4:"},
    {"Label3", "I Nenn", "I Rated"},
    {"Label9", "Warnungen", "warnings"},
    {"Label10", "Fehler", "errors"},
    {"Label15", "aktuelle Eingangsspannung", "input voltage"},
    {"Label7", "minimale Eingangsspannung", "minimum input voltage"},
    {"a", "Aktualisierung", "update"},
    {"Labelmb1_1", "Überstrom Kanal 1", "overcurrent channel 1"},
    {"Labelmb1_3", "Überstrom Kanal 2", "overcurrent channel 2"},
    {"Labelmb1_5", "Überstrom Kanal 3", "overcurrent channel 3"},
    {"Labelmb1_7", "Überstrom Kanal 4", "overcurrent channel 4"},
    {"Labelmb1_2", "Kanal 1 ausgelöst", "channel 1 open circuit"},
    {"Labelmb1_4", "Kanal 2 ausgelöst", "channel 2 open circuit"},
    {"Labelmb1_6", "Kanal 3 ausgelöst", "channel 3 open circuit"},
    {"Labelmb1_8", "Kanal 4 ausgelöst", "channel 4 open circuit"},
    {"Labelmb2_1", "Uin < Power Good", "Uin < power good"},
    {"Labelmb2_2", "Gerätefehler", "hardware fault"},
    {"Button1", "Konfiguration", "configuration"},
    {"oeffnen1", "&Datei", "&file"},
    {"info1", "&Info...", "&info..."},
    {"Aufzeichnungstarten1", "&Aufzeichnung starten…", "&start recording…"},
    {"Aufzeichnungbeenden1", "Aufzeichnung &beenden", "s&top recording"},
    {"Ereignisse1", "&Ereignisse", "&events"},
    {"Verlauf1", "&Verlauf", "t&rend"},
    {"Kennlinie1", "&Kennlinie", "ch&aracteristic"},
    {"Beenden1", "S&chließen", "&close"},
};

// The rows both configuration dialogs share, word for word.
const Caption kDialogRows[] = {
    {"Label1", "konfigurierter Strom [A]", "configured current [A]"},
    {"Label4", "Auslösezeit [s]", "fuse delay [s]"},
    {"Label15", "Power Good Schwellwert [V]", "power good threshold [V]"},
    {"Button1", "Konfiguration laden", "load configuration"},
    {"Button2", "Konfiguration schreiben", "write configuration"},
    {"Button3", "Werkseinstellung", "factory setting"},
    {"Label6", "Kanal 1:", "channel 1:"},
    {"Label12", "Kanal 2:", "channel 2:"},
    {"Label13", "Kanal 3:", "channel 3:"},
    {"Label14", "Kanal 4:", "channel 4:"},
    {"f1", "Überstrom Kanal 1", "overcurrent channel 1"},
    {"f2", "Überstrom Kanal 2", "overcurrent channel 2"},
    {"f3", "Überstrom Kanal 3", "overcurrent channel 3"},
    {"f4", "Überstrom Kanal 4", "overcurrent channel 4"},
    {"f5", "Kanal 1 ausgelöst", "channel 1 open circuit"},
    {"f6", "Kanal 2 ausgelöst", "channel 2 open circuit"},
    {"f7", "Kanal 3 ausgelöst", "channel 3 open circuit"},
    {"f8", "Kanal 4 ausgelöst", "channel 4 open circuit"},
    {"f9", "Uin < Power Good", "Uin < power good"},
    {"f10", "Gerätefehler", "hardware fault"},
    {"f11", "Ausgang invertieren", "output inverted"},
    {"f12", "Programmierung erlauben", "programming allowed"},
    {"Label2", "Port 1", "port 1"},
    {"oeffnen1", "&Datei", "&file"},
    {"oeffnen", "Ö&ffnen", "&open"},
    {"speichern", "&Speichern", "&save"},
    {"schliessen", "S&chließen", "&close"},
};

// The standard dialog adds its second port and the never-shown re-enable row.
const Caption kStandardOnly[] = {
    {"StaticText10", "Freigeben aller Kanäle, falls ausgelöst",
     "all channal enable, if open circuit"},
    {"Label3", "Port 2", "port 2"},
};

// The fuse-variant dialog adds its title.
const Caption kVariantOnly[] = {
    {"", "Konfiguration", "configuration"},
};

std::vector<Caption> joined(std::span<const Caption> a, std::span<const Caption> b) {
  std::vector<Caption> all(a.begin(), a.end());
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

}  // namespace

std::span<const Caption> mainWindowCaptions() {
  return kMainWindow;
}
std::span<const Caption> standardDialogCaptions() {
  static const std::vector<Caption> table = joined(kDialogRows, kStandardOnly);
  return table;
}
std::span<const Caption> variantDialogCaptions() {
  static const std::vector<Caption> table = joined(kVariantOnly, kDialogRows);
  return table;
}

}  // namespace zfuse
