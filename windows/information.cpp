#include "windows/information.h"

#include "ui_information.h"

namespace zfuse {

TInfo::TInfo(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TInfo>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(729, 220);
  move(0, 21);
  connect(ui->Button1, &QPushButton::clicked, this, &TInfo::Button1Click);
}

TInfo::~TInfo() = default;

void TInfo::setVersionLine(const QString& text) {
  ui->StaticText1->setText(text);
}

}  // namespace zfuse
