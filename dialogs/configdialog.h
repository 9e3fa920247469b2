#pragma once

#include <QByteArray>
#include <QLocale>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/exchange.h"
#include "config/messages.h"
#include "config/parameterset.h"
#include "windowkit/rowcaptions.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;

namespace zfuse {

// Language setting of the configuration dialogs' messages; exactly one is true from
// program start on (German first).
extern bool sprache_deutsch;
extern bool sprache_englisch;

// What both configuration dialogs share: placement, the hand-back of the device to the
// main window on close, the status line and its "!" markers, the read/write attempt
// cycle with its 500 ms retry tick and 5 s clean-up tick, and the event check boxes.
// Each dialog adds its own telegrams, lists and factory defaults.
class ConfigDialog : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kRetryPeriodMs = zfuse::kRetryPeriodMs;
  static constexpr int kCleanUpPeriodMs = 5000;
  static constexpr int kRetryLimit = zfuse::kRetryLimit;

  // One read or write attempt, as `read_mode` says.
  void sende_ff();
  void Timer1Timer();
  void Timer3Timer();
  void schliessenClick() { close(); }
  // Names the lists, check boxes and click areas for assistive technology in the
  // current language; the language switch calls it once the captions are set.
  virtual void describeControls();
  // Menu "Datei": load a configuration file into the controls, or save them to one.
  void oeffnenClick();
  void speichernClick();

  QTimer* Timer1;  // retry tick, 500 ms
  QTimer* Timer3;  // clean-up tick after a success, 5000 ms

  bool read_mode = false;    // set by the load button, cleared by the write button
  uint16_t retry_count = 0;  // timer-driven attempts of the running retry cycle
  QByteArray last_reply;     // the reply of the last exchange
  QLocale german_format;     // decimal comma, whatever the system's locale

 signals:
  // Emitted on every close of the dialog, first thing: the main window enables itself,
  // restarts its poll tick and re-opens its port.
  void deviceHandedBack();
  // The device acknowledged a written configuration.
  void configurationWritten();

 protected:
  // A check box and the bit it stands for in its event byte.
  using EventBoxes = std::vector<std::pair<QCheckBox*, uint8_t>>;

  // The dialog exchanges with the port `port` names at the moment of each attempt: the
  // port the main window has chosen.
  using PortOfOwner = std::function<QString()>;
  ConfigDialog(PortOfOwner port, QWidget* parent, QPoint designPosition);

  // Wires up the controls the shared code works on and makes the window work from the
  // keyboard; call once the form is set up.
  void attachCommonControls(QLabel* status, QLabel* versionCover, QLabel* versionText,
                            std::vector<QLabel*> markers);
  // The row captions and group headings of the lists and check boxes: buddies of their
  // controls, clickable for a lone check box, and the source of the controls' names.
  void attachRowCaptions(std::vector<RowCaption> captions);
  // The "Datei" menu: "Öffnen", "Speichern", "Schließen".
  void attachFileMenu(QAction* oeffnen, QAction* speichern, QAction* schliessen);
  // Fixed window with a close button only, `client` pixels below the menu bar.
  void fixWindow(QSize client);
  // Places the dialog: at its design position, or centred in a work area below 910 px.
  void placeOnDesktop();

  // The dialog's own halves of an attempt. `applyReply` checks the reply and, when it
  // is good, shows what it says; false means no usable reply.
  virtual bool applyReply(const std::vector<uint8_t>& reply) = 0;
  // Shows the marker of every list that must have a selection for a write or a save and
  // has none; true when any was shown.
  virtual bool markUnsetLists() = 0;
  // The write telegram of what the controls show.
  virtual std::vector<uint8_t> writeTelegram() = 0;
  // No selection in any list, every box unchecked, version text emptied.
  virtual void clearDialog() = 0;

  // The dialog's own halves of the file operations: the file text of what the controls
  // show; examining a file's lines and showing what they set.
  struct FileLoad {
    int check = 0;                         // number of the last failed check, 0 = good
    std::optional<std::string> badNumber;  // the load stopped at this text
  };
  virtual std::string fileText() = 0;
  virtual FileLoad loadLines(const std::array<std::string, 4>& lines) = 0;
  // What a load that failed a check leaves behind.
  virtual void afterFailedLoad() {}

  // The load and write buttons.
  void startRead();
  void startWrite();

  // Shows a message in the status line in the current language: black, or red for errors.
  void showMessage(const char* german, const char* english, bool error);
  void showMessage(const QString& german, const QString& english, bool error);
  void hideMarkers();
  // An attempt failed: the retry tick runs (a running cycle goes on unchanged).
  void attemptFailed();
  // An attempt succeeded: the retry cycle ends and the success message shows.
  void attemptSucceeded();
  // The success message and the version text go away 5 s from now.
  void startCleanUp();
  // Shows the version text hidden under the click area.
  void revealVersion();
  // "Softwareversion: " and the device's four version characters, byte for byte.
  void setVersionText(const std::string& version);

  // Shows `marker` when `list` has no selection; true when it was shown.
  static bool markIfUnset(QComboBox* list, QLabel* marker);
  // The threshold list's selected entry in tenths of a volt; 0 without a selection.
  static uint8_t thresholdTenths(const QComboBox* list);
  // Fills a list with the entries of a table, each carrying its value.
  static void fillList(QComboBox* list, const std::vector<ListEntry>& entries);
  // Selects entry `index`, or nothing when the list has no such entry.
  static void selectEntry(QComboBox* list, int index);
  static void setEventBits(const EventBoxes& boxes, uint8_t bits);
  static uint8_t eventBits(const EventBoxes& boxes);

  void closeEvent(QCloseEvent* event) override;

  QLabel* status_ = nullptr;
  QLabel* versionCover_ = nullptr;
  QLabel* versionText_ = nullptr;
  std::vector<QLabel*> markers_;

 private:
  void readAttempt();
  void writeAttempt();

  PortOfOwner port_;
  QPoint designPosition_;
  std::vector<RowCaption> rowCaptions_;
};

}  // namespace zfuse
