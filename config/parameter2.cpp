#include "config/parameter2.h"

#include <QCloseEvent>

#include "app/windowkit.h"
#include "monitor/statustelegram.h"
#include "ui_parameter2.h"

namespace zfuse {

Tparameter_zokx::Tparameter_zokx(QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::Tparameter_zokx>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  fixClientArea(this, {964, 462});
  for (QComboBox* list : {ui->k1_sel, ui->k2_sel, ui->k3_sel, ui->k4_sel}) {
    list->setCurrentIndex(-1);
  }
  connect(ui->schliessen, &QAction::triggered, this, &Tparameter_zokx::schliessenClick);
  FormCreate();
}

Tparameter_zokx::~Tparameter_zokx() = default;

void Tparameter_zokx::FormCreate() {
  placeConfigDialog(this, QPoint(0, 0));
}

void Tparameter_zokx::prepareForModel() {
  const bool upTo10aFront = model_4ch_10a || model_2ch_10a;
  const bool upTo10aBack = model_4ch_10a;
  const std::pair<QComboBox*, bool> lists[] = {{ui->k1_sel, upTo10aFront},
                                               {ui->k2_sel, upTo10aFront},
                                               {ui->k3_sel, upTo10aBack},
                                               {ui->k4_sel, upTo10aBack}};
  for (const auto& [list, upTo10a] : lists) {
    list->clear();
    list->addItems({QStringLiteral("OFF"), QStringLiteral("1"), QStringLiteral("2"),
                    QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"),
                    QStringLiteral("6")});
    if (upTo10a) {
      list->addItems(
          {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("9"), QStringLiteral("10")});
    }
  }
  for (const auto& [list, upTo10a] : lists) list->setCurrentIndex(-1);
  if (model_2ch_10a || model_2ch_6a) {
    for (QWidget* w : std::initializer_list<QWidget*>{
             ui->k3_sel, ui->k4_sel, ui->Label13, ui->Label14, ui->f3, ui->f4, ui->f7, ui->f8,
             ui->port1_byte1_10, ui->port1_byte1_20, ui->port1_byte1_40, ui->port1_byte1_80}) {
      w->hide();
    }
  }
}

void Tparameter_zokx::closeEvent(QCloseEvent* event) {
  if (handBackDevice) handBackDevice();
  for (QComboBox* list : {ui->k1_sel, ui->k2_sel, ui->k3_sel, ui->k4_sel}) {
    list->setCurrentIndex(-1);
  }
  for (QCheckBox* box : findChildren<QCheckBox*>()) box->setChecked(false);
  event->accept();
}

}  // namespace zfuse
