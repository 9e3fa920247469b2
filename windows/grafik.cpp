#include "windows/grafik.h"

#include "ui_grafik.h"
#include "windowkit/desktop.h"
#include "windowkit/windowkit.h"

namespace zfuse {

TForm2::TForm2(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm2>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(900, 535);
  closeOnEscape(this);
  FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::FormCreate() {
  centreInWorkArea(this);
}

}  // namespace zfuse
