#include "dialogs/parameter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <tuple>

#include "config/configfile.h"
#include "monitor/statustelegram.h"
#include "ui_parameter.h"
#include "windowkit/windowkit.h"

namespace zfuse {

namespace {
constexpr QPoint kDesignPosition{0, 255};
}  // namespace
Tpara::Tpara(PortOfOwner port, QWidget* parent)
    : ConfigDialog(std::move(port), parent, kDesignPosition), ui(std::make_unique<Ui::Tpara>()) {
  ui->setupUi(this);
  fixWindow({823, 511});

  currentLists_ = {ui->k1_sel, ui->k2_sel, ui->k3_sel, ui->k4_sel};
  timeLists_ = {ui->k1_time, ui->k2_time, ui->k3_time, ui->k4_time};
  currentMarkers_ = {ui->error_k1, ui->error_k2, ui->error_k3, ui->error_k4};
  port1Byte1_ = {{ui->port1_byte1_01, 0x01}, {ui->port1_byte1_02, 0x02}, {ui->port1_byte1_04, 0x04},
                 {ui->port1_byte1_08, 0x08}, {ui->port1_byte1_10, 0x10}, {ui->port1_byte1_20, 0x20},
                 {ui->port1_byte1_40, 0x40}, {ui->port1_byte1_80, 0x80}};
  port2Byte1_ = {{ui->port2_byte1_01, 0x01}, {ui->port2_byte1_02, 0x02}, {ui->port2_byte1_04, 0x04},
                 {ui->port2_byte1_08, 0x08}, {ui->port2_byte1_10, 0x10}, {ui->port2_byte1_20, 0x20},
                 {ui->port2_byte1_40, 0x40}, {ui->port2_byte1_80, 0x80}};
  port1Byte2_ = {{ui->port1_byte2_01, 0x01},
                 {ui->port1_byte2_02, 0x02},
                 {ui->loeschen, 0x40},
                 {ui->port1_byte2_80, 0x80}};
  port2Byte2_ = {{ui->port2_byte2_01, 0x01},
                 {ui->port2_byte2_02, 0x02},
                 {ui->programmieren, 0x40},
                 {ui->port2_byte2_80, 0x80}};
  for (QComboBox* list : currentLists_)
    fillList(list, currentEntries(currentListMax(kTypeStandard, 0)));
  fillList(ui->pgood_sel_, thresholdEntries());
  attachCommonControls(ui->status, ui->Label5, ui->sw,
                       {ui->error_k1, ui->error_k2, ui->error_k3, ui->error_k4, ui->error_pg});
  attachRowCaptions(rowCaptions());

  // Only the operator's choice runs these; selections made by code fire nothing.
  connect(ui->k1_sel, &QComboBox::activated, this, &Tpara::zeit1);
  connect(ui->k2_sel, &QComboBox::activated, this, &Tpara::zeit2);
  connect(ui->k3_sel, &QComboBox::activated, this, &Tpara::zeit3);
  connect(ui->k4_sel, &QComboBox::activated, this, &Tpara::zeit4);
  connect(ui->pgood_sel_, &QComboBox::activated, this, &Tpara::pgood_sel_Change);
  connect(ui->Label5, &ClickableLabel::clicked, this, &Tpara::Label5Click);
  connect(ui->Button1, &QPushButton::clicked, this, &Tpara::laden);
  connect(ui->Button2, &QPushButton::clicked, this, &Tpara::Button2Click);
  connect(ui->Button3, &QPushButton::clicked, this, &Tpara::Button3Click);
  attachFileMenu(ui->oeffnen, ui->speichern, ui->schliessen);

  clearDialog();
  FormCreate();
}

Tpara::~Tpara() = default;

std::vector<RowCaption> Tpara::rowCaptions() const {
  std::vector<RowCaption> rows;
  const std::array<QLabel*, 4> channels{ui->Label6, ui->Label12, ui->Label13, ui->Label14};
  for (std::size_t ch = 0; ch < 4; ++ch) {
    rows.push_back({currentLists_[ch], ui->Label1, channels[ch]});
    rows.push_back({timeLists_[ch], ui->Label4, channels[ch]});
  }
  rows.push_back({ui->pgood_sel_, nullptr, ui->Label15});
  // Each event row has a box under "Port 1" and one under "Port 2".
  const std::array<std::tuple<QLabel*, QCheckBox*, QCheckBox*>, 11> events{{
      {ui->f1, ui->port1_byte1_01, ui->port2_byte1_01},
      {ui->f2, ui->port1_byte1_04, ui->port2_byte1_04},
      {ui->f3, ui->port1_byte1_10, ui->port2_byte1_10},
      {ui->f4, ui->port1_byte1_40, ui->port2_byte1_40},
      {ui->f5, ui->port1_byte1_02, ui->port2_byte1_02},
      {ui->f6, ui->port1_byte1_08, ui->port2_byte1_08},
      {ui->f7, ui->port1_byte1_20, ui->port2_byte1_20},
      {ui->f8, ui->port1_byte1_80, ui->port2_byte1_80},
      {ui->f9, ui->port1_byte2_01, ui->port2_byte2_01},
      {ui->f10, ui->port1_byte2_02, ui->port2_byte2_02},
      {ui->f11, ui->port1_byte2_80, ui->port2_byte2_80},
  }};
  for (const auto& [row, port1, port2] : events) {
    rows.push_back({port1, ui->Label2, row});
    rows.push_back({port2, ui->Label3, row});
  }
  // Rows of one box each, for the device as a whole.
  rows.push_back({ui->programmieren, nullptr, ui->f12});
  rows.push_back({ui->loeschen, nullptr, ui->StaticText10});
  return rows;
}

void Tpara::FormCreate() {
  placeOnDesktop();
  ui->sw->clear();
  ui->sw->hide();
}

void Tpara::rebuildTimeList(int channel, int currentIndex) {
  QComboBox* list = timeLists_[channel];
  list->clear();
  int position = 0;
  for (const std::string& entry : tripTimeEntries(currentIndex)) {
    list->addItem(QString::fromStdString(entry), position++);
  }
  // Only the higher currents have a single time, which is then the choice.
  list->setCurrentIndex(list->count() == 1 ? 0 : -1);
}

void Tpara::refillTimeList(int channel) {
  currentMarkers_[channel]->hide();
  const int current = currentLists_[channel]->currentIndex();
  rebuildTimeList(channel, current);
  timeLists_[channel]->setCurrentIndex(defaultTripTimeEntry(current));
}

void Tpara::pgood_sel_Change() {
  ui->error_pg->hide();
}

void Tpara::Button3Click() {
  const ParameterSet factory = standardFactorySet();
  for (int ch = 0; ch < 4; ++ch) {
    currentLists_[ch]->setCurrentIndex(factory.current_index[ch]);
    // The factory current has a single trip time, its 0,1 s.
    rebuildTimeList(ch, factory.current_index[ch]);
    timeLists_[ch]->setCurrentIndex(factory.time_index[ch]);
  }
  ui->pgood_sel_->setCurrentIndex(factory.pgood_index);
  setEventBits(port1Byte1_, factory.port1_byte1);
  setEventBits(port1Byte2_, factory.port1_byte2);  // "release all" unticked too
  setEventBits(port2Byte1_, factory.port2_byte1);
  setEventBits(port2Byte2_, factory.port2_byte2);
  status_->clear();
  hideMarkers();
}

void Tpara::clearDialog() {
  for (QComboBox* list : currentLists_) list->setCurrentIndex(-1);
  ui->pgood_sel_->setCurrentIndex(-1);
  for (QComboBox* list : timeLists_) list->clear();
  for (const auto* group : {&port1Byte1_, &port1Byte2_, &port2Byte1_, &port2Byte2_}) {
    setEventBits(*group, 0);
  }
  ui->sw->clear();
}

ParameterSet Tpara::parameterSet() const {
  ParameterSet p;
  for (int ch = 0; ch < 4; ++ch) {
    p.current_index[ch] = currentLists_[ch]->currentIndex();
    p.time_index[ch] = timeLists_[ch]->currentIndex();
  }
  p.pgood_index = ui->pgood_sel_->currentIndex();
  p.port1_byte1 = eventBits(port1Byte1_);
  p.port1_byte2 = eventBits(port1Byte2_);
  p.port2_byte1 = eventBits(port2Byte1_);
  p.port2_byte2 = eventBits(port2Byte2_);
  return p;
}

void Tpara::applyFields(const StandardFields& f) {
  for (int ch = 0; ch < 4; ++ch) {
    if (f.current[ch]) selectEntry(currentLists_[ch], *f.current[ch]);
  }
  if (f.pgood_index) selectEntry(ui->pgood_sel_, *f.pgood_index);
  if (f.rebuildTimeLists) {
    for (int ch = 0; ch < 4; ++ch) {
      rebuildTimeList(ch, f.timeListCurrent[ch].value_or(currentLists_[ch]->currentIndex()));
    }
  }
  for (int ch = 0; ch < 4; ++ch) {
    if (f.time[ch]) selectEntry(timeLists_[ch], *f.time[ch]);
  }
  if (f.port1_byte1) setEventBits(port1Byte1_, *f.port1_byte1);
  if (f.port1_byte2) {
    // "Release all tripped channels" is never taken from the device or a file.
    for (const auto& [box, mask] : port1Byte2_) {
      if (box != ui->loeschen) box->setChecked(*f.port1_byte2 & mask);
    }
  }
  if (f.port2_byte1) setEventBits(port2Byte1_, *f.port2_byte1);
  if (f.port2_byte2) setEventBits(port2Byte2_, *f.port2_byte2);
}

bool Tpara::applyReply(const std::vector<uint8_t>& bytes) {
  const auto reply = decodeStandardReply(bytes);
  if (!reply) return false;
  applyFields(fieldsOf(*reply));
  setVersionText(reply->version);
  return true;
}

bool Tpara::markUnsetLists() {
  bool marked = false;
  for (int ch = 0; ch < 4; ++ch) marked |= markIfUnset(currentLists_[ch], currentMarkers_[ch]);
  marked |= markIfUnset(ui->pgood_sel_, ui->error_pg);
  return marked;
}

std::vector<uint8_t> Tpara::writeTelegram() {
  return encodeStandardWrite(parameterSet(), thresholdTenths(ui->pgood_sel_));
}

std::string Tpara::fileText() {
  return standardFileText(parameterSet(), thresholdTenths(ui->pgood_sel_));
}

ConfigDialog::FileLoad Tpara::loadLines(const std::array<std::string, 4>& lines) {
  const auto examined = examineStandardFile(lines);
  applyFields(examined.fields);
  return {examined.check, examined.badNumber};
}

}  // namespace zfuse
