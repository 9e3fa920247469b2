#include "windows/grafik.h"

#include "app/desktop.h"
#include "ui_grafik.h"

namespace zfuse {

TForm2::TForm2(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm2>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(900, 535);
  FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::FormCreate() {
  const QRect area = desktopWorkArea();
  const QSize outer = frameGeometry().size();
  move(centredEdge(area.width(), outer.width()), centredEdge(area.height(), outer.height()));
}

}  // namespace zfuse
