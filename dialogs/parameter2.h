#pragma once

#include <array>
#include <memory>

#include "config/parameterset.h"
#include "dialogs/configdialog.h"
#include "monitor/statustelegram.h"

namespace Ui {
class Tparameter_zokx;
}

namespace zfuse {

// The fuse-variant models' configuration dialog: rated currents of up to four channels
// (up to 6 or 10 A, by model), the power-good threshold, one switch-off time for the
// device and the events of its one signalling output. Its read tells the program which
// model is on the line. The controls are the configuration.
class Tparameter_zokx : public ConfigDialog {
  Q_OBJECT

 public:
  // `model` is the main window's view of the model on the line: the dialog's lists
  // follow it, and a read sets it from the reply.
  Tparameter_zokx(ModelFlags& model, PortOfOwner port, QWidget* parent = nullptr);
  ~Tparameter_zokx() override;

  void FormCreate();
  void Button1Click() { startRead(); }
  void Button2Click() { startWrite(); }
  void Button3Click();
  void Label3Click() { revealVersion(); }
  void Image2Click() { emit characteristicRequested(); }
  void describeControls() override;

  // Fills the current lists for the model on the line (up to 6 or 10 A), selects none,
  // and hides channels 3 and 4 for the two-channel models, for the rest of the run.
  void prepareForModel();

  // The parameter set as the controls show it.
  ZokxParameterSet parameterSet() const;
  // Shows what a reply or a file says, field by field; the one way into the controls.
  void applyFields(const ZokxFields& fields);

 signals:
  // The operator clicked the thumbnail: the trip characteristic is wanted at full size.
  void characteristicRequested();

 protected:
  bool applyReply(const std::vector<uint8_t>& reply) override;
  bool markUnsetLists() override;
  std::vector<uint8_t> writeTelegram() override;
  void clearDialog() override;
  std::string fileText() override;
  FileLoad loadLines(const std::array<std::string, 4>& lines) override;
  void afterFailedLoad() override;

 private:
  // The lists and boxes with their row captions and group headings.
  std::vector<RowCaption> rowCaptions() const;
  // No selection in any list, every box unchecked.
  void clearSelections();
  // Channels 3 and 4 go for good: nothing shows them again during the run.
  void hideBackChannels();

  // The fuse variant the model flags name; the flags of the 10 A models decide the lists.
  uint8_t currentModelType() const;

  ModelFlags& model_;
  std::unique_ptr<Ui::Tparameter_zokx> ui;
  std::array<QComboBox*, 4> currentLists_;
  std::array<QLabel*, 4> currentMarkers_;
  EventBoxes port1Byte1_, port1Byte2_;
};

}  // namespace zfuse
