#include "config/parameter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

#include "app/windowkit.h"
#include "link/command.h"
#include "ui_parameter.h"

namespace zfuse {

// The language setting belongs to this unit; both dialogs read it.
bool sprache_deutsch = false;
bool sprache_englisch = false;

namespace {
constexpr QPoint kDesignPosition{0, 255};
constexpr int kDefaultCurrent = 8;     // 8 A on every channel
constexpr int kDefaultThreshold = 14;  // "21,4" V

std::vector<uint8_t> bytesOf(const QByteArray& a) {
  return {a.begin(), a.end()};
}

// Selects entry `index`, or nothing when the list has no such entry.
void selectEntry(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}
}  // namespace

Tpara::Tpara(QWidget* parent)
    : ConfigDialog(parent, kDesignPosition), ui(std::make_unique<Ui::Tpara>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  fixClientArea(this, {823, 511});

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
  attachCommonControls(ui->status, ui->Label5, ui->sw,
                       {ui->error_k1, ui->error_k2, ui->error_k3, ui->error_k4, ui->error_pg});

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
  connect(ui->schliessen, &QAction::triggered, this, &Tpara::schliessenClick);

  clearDialog();
  FormCreate();
}

Tpara::~Tpara() = default;

void Tpara::FormCreate() {
  placeOnDesktop();
  ui->sw->clear();
  ui->sw->hide();
}

void Tpara::rebuildTimeList(int channel, int currentIndex) {
  QComboBox* list = timeLists_[channel];
  list->clear();
  for (const std::string& entry : tripTimeEntries(currentIndex)) {
    list->addItem(QString::fromStdString(entry));
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

void Tpara::setEventBits(const std::vector<std::pair<QCheckBox*, uint8_t>>& boxes, uint8_t bits) {
  for (const auto& [box, mask] : boxes) box->setChecked(bits & mask);
}

uint8_t Tpara::eventBits(const std::vector<std::pair<QCheckBox*, uint8_t>>& boxes) {
  uint8_t bits = 0;
  for (const auto& [box, mask] : boxes) {
    if (box->isChecked()) bits |= mask;
  }
  return bits;
}

void Tpara::Button3Click() {
  for (QComboBox* list : currentLists_) list->setCurrentIndex(kDefaultCurrent);
  ui->pgood_sel_->setCurrentIndex(kDefaultThreshold);
  setEventBits(port1Byte1_, 0x02);  // channel 1 tripped
  setEventBits(port1Byte2_, 0x80);  // output inverted
  setEventBits(port2Byte1_, 0x08);  // channel 2 tripped
  setEventBits(port2Byte2_, 0xC0);  // output inverted, programming allowed
  ui->loeschen->setChecked(false);
  for (QComboBox* list : timeLists_) {
    list->clear();
    list->addItem(QStringLiteral("0,1"));
    list->setCurrentIndex(0);
  }
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

void Tpara::readAttempt() {
  last_reply.clear();
  last_reply = command(QByteArray::fromRawData("\xFF\xFC", 2));
  const auto reply = decodeStandardReply(bytesOf(last_reply));
  if (!reply) {
    attemptFailed();  // the dialog stays as the load button cleared it
    return;
  }
  attemptSucceeded();
  for (int ch = 0; ch < 4; ++ch) selectEntry(currentLists_[ch], reply->current[ch]);
  for (int ch = 0; ch < 4; ++ch) rebuildTimeList(ch, reply->current[ch]);
  for (int ch = 0; ch < 4; ++ch) selectEntry(timeLists_[ch], reply->time[ch]);
  selectEntry(ui->pgood_sel_, reply->pgood_index);
  setEventBits(port1Byte1_, reply->port1_byte1);
  // "Release all tripped channels" is never taken from the device.
  for (const auto& [box, mask] : port1Byte2_) {
    if (box != ui->loeschen) box->setChecked(reply->port1_byte2 & mask);
  }
  setEventBits(port2Byte1_, reply->port2_byte1);
  setEventBits(port2Byte2_, reply->port2_byte2);
  ui->sw->setText(
      QString::fromLatin1(kVersionPrefix) +
      QString::fromLatin1(reply->version.data(), static_cast<qsizetype>(reply->version.size())));
  startCleanUp();
}

void Tpara::writeAttempt() {
  bool refused = false;
  for (int ch = 0; ch < 4; ++ch) {
    if (currentLists_[ch]->currentIndex() < 0) {
      currentMarkers_[ch]->show();
      refused = true;
    }
  }
  if (ui->pgood_sel_->currentIndex() < 0) {
    ui->error_pg->show();
    refused = true;
  }
  // The threshold goes out as the selected entry's value in tenths of a volt.
  const double volts = german_format.toDouble(ui->pgood_sel_->currentText());
  const auto tenths = static_cast<uint8_t>(std::lround(volts * 10.0) & 0xFF);
  const std::vector<uint8_t> telegram = encodeStandardWrite(parameterSet(), tenths);
  if (refused) {
    showMessage(kIncompleteDe, kIncompleteEn, true);
    return;
  }
  last_reply.clear();
  last_reply = command(QByteArray(reinterpret_cast<const char*>(telegram.data()),
                                  static_cast<qsizetype>(telegram.size())));
  if (last_reply.isEmpty() || static_cast<uint8_t>(last_reply[0]) != telegram.back()) {
    attemptFailed();
    return;
  }
  attemptSucceeded();
  startCleanUp();
}

}  // namespace zfuse
