#include "dialogs/parameter2.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "config/configfile.h"
#include "monitor/statustelegram.h"
#include "ui_parameter2.h"

namespace zfuse {

namespace {
constexpr QPoint kDesignPosition{0, 0};
// What the thumbnail is, for assistive technology.
constexpr const char* kCharacteristicNameDe = "Auslösecharakteristik";
constexpr const char* kCharacteristicNameEn = "trip characteristic";
}  // namespace

uint8_t Tparameter_zokx::currentModelType() const {
  if (model_.model_4ch_10a) return kType4ch10A;
  if (model_.model_2ch_10a) return kType2ch10A;
  if (model_.model_2ch_6a) return kType2ch6A;
  return kType4ch6A;
}

Tparameter_zokx::Tparameter_zokx(ModelFlags& model, PortOfOwner port, QWidget* parent)
    : ConfigDialog(std::move(port), parent, kDesignPosition),
      model_(model),
      ui(std::make_unique<Ui::Tparameter_zokx>()) {
  ui->setupUi(this);
  fixWindow({964, 462});

  currentLists_ = {ui->k1_sel, ui->k2_sel, ui->k3_sel, ui->k4_sel};
  currentMarkers_ = {ui->error_k1, ui->error_k2, ui->error_k3, ui->error_k4};
  port1Byte1_ = {{ui->port1_byte1_01, 0x01}, {ui->port1_byte1_02, 0x02}, {ui->port1_byte1_04, 0x04},
                 {ui->port1_byte1_08, 0x08}, {ui->port1_byte1_10, 0x10}, {ui->port1_byte1_20, 0x20},
                 {ui->port1_byte1_40, 0x40}, {ui->port1_byte1_80, 0x80}};
  port1Byte2_ = {{ui->port1_byte2_01, 0x01},
                 {ui->port1_byte2_02, 0x02},
                 {ui->port1_byte2_40, 0x40},
                 {ui->programmieren, 0x80}};
  fillList(ui->pgood_sel_, thresholdEntries());
  std::vector<ListEntry> switchOff;
  for (std::size_t i = 0; i < kSwitchOffCount; ++i) {
    switchOff.push_back({kSwitchOffEntries[i], kSwitchOffCodes[i]});
  }
  fillList(ui->abschaltzeit, switchOff);
  for (QComboBox* list : currentLists_) fillList(list, currentEntries(10));
  attachCommonControls(
      ui->status, ui->Label3, ui->sw,
      {ui->error_k1, ui->error_k2, ui->error_k3, ui->error_k4, ui->error_pg, ui->ab_error});
  attachRowCaptions(rowCaptions());

  // The lists of this dialog have no change handlers.
  connect(ui->Label3, &ClickableLabel::clicked, this, &Tparameter_zokx::Label3Click);
  connect(ui->Image2, &SvgPicture::clicked, this, &Tparameter_zokx::Image2Click);
  connect(ui->Button1, &QPushButton::clicked, this, &Tparameter_zokx::Button1Click);
  connect(ui->Button2, &QPushButton::clicked, this, &Tparameter_zokx::Button2Click);
  connect(ui->Button3, &QPushButton::clicked, this, &Tparameter_zokx::Button3Click);
  attachFileMenu(ui->oeffnen, ui->speichern, ui->schliessen);

  clearDialog();
  FormCreate();
}

Tparameter_zokx::~Tparameter_zokx() = default;

std::vector<RowCaption> Tparameter_zokx::rowCaptions() const {
  std::vector<RowCaption> rows;
  const std::array<QLabel*, 4> channels{ui->Label6, ui->Label12, ui->Label13, ui->Label14};
  for (std::size_t ch = 0; ch < 4; ++ch) {
    rows.push_back({currentLists_[ch], ui->Label1, channels[ch]});
  }
  rows.push_back({ui->pgood_sel_, nullptr, ui->Label15});
  rows.push_back({ui->abschaltzeit, nullptr, ui->Label4});
  const std::array<std::pair<QLabel*, QCheckBox*>, 11> events{{
      {ui->f1, ui->port1_byte1_01},
      {ui->f2, ui->port1_byte1_04},
      {ui->f3, ui->port1_byte1_10},
      {ui->f4, ui->port1_byte1_40},
      {ui->f5, ui->port1_byte1_02},
      {ui->f6, ui->port1_byte1_08},
      {ui->f7, ui->port1_byte1_20},
      {ui->f8, ui->port1_byte1_80},
      {ui->f9, ui->port1_byte2_01},
      {ui->f10, ui->port1_byte2_02},
      {ui->f11, ui->port1_byte2_40},
  }};
  for (const auto& [row, box] : events) rows.push_back({box, ui->Label2, row});
  // The device's permission, in a panel of its own.
  rows.push_back({ui->programmieren, nullptr, ui->f12});
  return rows;
}

void Tparameter_zokx::describeControls() {
  ConfigDialog::describeControls();
  ui->Image2->setAccessibleName(
      QString::fromUtf8(sprache_englisch ? kCharacteristicNameEn : kCharacteristicNameDe));
}

void Tparameter_zokx::FormCreate() {
  placeOnDesktop();
  ui->sw->clear();
  ui->sw->hide();
}

void Tparameter_zokx::prepareForModel() {
  const uint8_t model = currentModelType();
  for (int ch = 0; ch < 4; ++ch) {
    fillList(currentLists_[ch], currentEntries(currentListMax(model, ch)));
    currentLists_[ch]->setCurrentIndex(-1);
  }
  if (model_.model_2ch_10a || model_.model_2ch_6a) hideBackChannels();
}

void Tparameter_zokx::hideBackChannels() {
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->k3_sel, ui->k4_sel, ui->Label13, ui->Label14, ui->f3, ui->f4, ui->f7, ui->f8,
           ui->port1_byte1_10, ui->port1_byte1_20, ui->port1_byte1_40, ui->port1_byte1_80}) {
    w->hide();
  }
}

void Tparameter_zokx::Button3Click() {
  const ZokxParameterSet factory = zokxFactorySet(currentModelType());
  for (int ch = 0; ch < 4; ++ch) selectEntry(currentLists_[ch], factory.current_index[ch]);
  ui->pgood_sel_->setCurrentIndex(factory.pgood_index);
  setEventBits(port1Byte1_, factory.port1_byte1);
  setEventBits(port1Byte2_, factory.port1_byte2);
  ui->abschaltzeit->setCurrentIndex(factory.switch_off_index);
  status_->clear();
  hideMarkers();
}

void Tparameter_zokx::clearSelections() {
  for (QComboBox* list : currentLists_) list->setCurrentIndex(-1);
  ui->pgood_sel_->setCurrentIndex(-1);
  ui->abschaltzeit->setCurrentIndex(-1);
  setEventBits(port1Byte1_, 0);
  setEventBits(port1Byte2_, 0);
}

void Tparameter_zokx::clearDialog() {
  clearSelections();
  ui->sw->clear();
}

ZokxParameterSet Tparameter_zokx::parameterSet() const {
  ZokxParameterSet p;
  for (int ch = 0; ch < 4; ++ch) p.current_index[ch] = currentLists_[ch]->currentIndex();
  p.pgood_index = ui->pgood_sel_->currentIndex();
  p.switch_off_index = ui->abschaltzeit->currentIndex();
  p.port1_byte1 = eventBits(port1Byte1_);
  p.port1_byte2 = eventBits(port1Byte2_);
  return p;
}

void Tparameter_zokx::applyFields(const ZokxFields& f) {
  for (int ch = 0; ch < 4; ++ch) {
    if (f.current[ch]) selectEntry(currentLists_[ch], *f.current[ch]);
  }
  if (f.pgood_index) selectEntry(ui->pgood_sel_, *f.pgood_index);
  if (f.switch_off_index) selectEntry(ui->abschaltzeit, *f.switch_off_index);
  if (f.port1_byte1) setEventBits(port1Byte1_, *f.port1_byte1);
  if (f.port1_byte2) setEventBits(port1Byte2_, *f.port1_byte2);
}

bool Tparameter_zokx::applyReply(const std::vector<uint8_t>& bytes) {
  const auto model = zokxReplyModel(bytes);
  if (!model) return false;
  // The reply names the model even when its check byte is wrong.
  const bool standard = model_.model_standard;
  model_.set(*model);
  model_.model_standard = standard;
  if (model_.model_2ch_6a || model_.model_2ch_10a) hideBackChannels();
  const auto reply = decodeZokxReply(bytes);
  if (!reply) return false;
  applyFields(fieldsOf(*reply));
  setVersionText(reply->version);
  return true;
}

bool Tparameter_zokx::markUnsetLists() {
  // Hidden lists are checked too: a two-channel device needs channels 3 and 4 set.
  bool marked = false;
  for (int ch = 0; ch < 4; ++ch) marked |= markIfUnset(currentLists_[ch], currentMarkers_[ch]);
  marked |= markIfUnset(ui->abschaltzeit, ui->ab_error);
  marked |= markIfUnset(ui->pgood_sel_, ui->error_pg);
  return marked;
}

std::vector<uint8_t> Tparameter_zokx::writeTelegram() {
  return encodeZokxWrite(parameterSet(), thresholdTenths(ui->pgood_sel_));
}

std::string Tparameter_zokx::fileText() {
  return zokxFileText(parameterSet(), thresholdTenths(ui->pgood_sel_));
}

ConfigDialog::FileLoad Tparameter_zokx::loadLines(const std::array<std::string, 4>& lines) {
  const auto examined = examineZokxFile(lines);
  applyFields(examined.fields);
  return {examined.check, examined.badNumber};
}

void Tparameter_zokx::afterFailedLoad() {
  // A file that failed a check leaves nothing of itself behind.
  clearSelections();
}

}  // namespace zfuse
