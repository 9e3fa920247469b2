#pragma once

#include <array>
#include <memory>

#include "config/parameterset.h"
#include "dialogs/configdialog.h"

namespace Ui {
class Tpara;
}

namespace zfuse {

// The standard model's configuration dialog: rated current and trip time of four
// channels, the power-good threshold and the events of the two signalling ports. The
// controls are the configuration; there is no copy of it elsewhere.
class Tpara : public ConfigDialog {
  Q_OBJECT

 public:
  explicit Tpara(PortOfOwner port, QWidget* parent = nullptr);
  ~Tpara() override;

  void FormCreate();
  void zeit1() { refillTimeList(0); }
  void zeit2() { refillTimeList(1); }
  void zeit3() { refillTimeList(2); }
  void zeit4() { refillTimeList(3); }
  void pgood_sel_Change();
  void Label5Click() { revealVersion(); }
  void Button3Click();
  void laden() { startRead(); }
  void Button2Click() { startWrite(); }

  // The parameter set as the controls show it.
  ParameterSet parameterSet() const;
  // Shows what a reply or a file says, field by field; the one way into the controls.
  void applyFields(const StandardFields& fields);

 protected:
  bool applyReply(const std::vector<uint8_t>& reply) override;
  bool markUnsetLists() override;
  std::vector<uint8_t> writeTelegram() override;
  void clearDialog() override;
  std::string fileText() override;
  FileLoad loadLines(const std::array<std::string, 4>& lines) override;

 private:
  // The lists and boxes with their row captions and group headings.
  std::vector<RowCaption> rowCaptions() const;
  void refillTimeList(int channel);
  // Empties a channel's time list and fills it for `currentIndex`, selecting nothing
  // (or the single "0,1" of the higher currents).
  void rebuildTimeList(int channel, int currentIndex);

  std::unique_ptr<Ui::Tpara> ui;
  std::array<QComboBox*, 4> currentLists_;
  std::array<QComboBox*, 4> timeLists_;
  std::array<QLabel*, 4> currentMarkers_;
  EventBoxes port1Byte1_, port1Byte2_, port2Byte1_, port2Byte2_;
};

}  // namespace zfuse
