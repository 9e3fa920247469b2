#include "windows/information.h"

#include <QUrl>

#include "ui_information.h"
#include "windowkit/keyboard.h"
#include "windowkit/modal.h"
#include "windowkit/windowkit.h"

namespace zfuse {

namespace {
constexpr QPoint kDesignPosition{0, 21};
}

TInfo::TInfo(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TInfo>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/icons/zfuse.svg")));
  closeOnEscape(this);
  useFromKeyboard(this);
  setFixedSize(729, 220);
  move(kDesignPosition);
  connect(ui->Button1, &QPushButton::clicked, this, &TInfo::Button1Click);
  connect(ui->StaticText7, &ClickableLabel::clicked, this, &TInfo::StaticText7Click);
  connect(ui->StaticText8, &ClickableLabel::clicked, this, &TInfo::StaticText8Click);
  FormCreate();
}

TInfo::~TInfo() = default;

void TInfo::FormCreate() {
  ui->Image1->show();
  ui->Image2->show();
  ui->Image3->hide();
  ui->Image4->hide();
  ui->StaticText2->setText(QString::fromUtf8(kMakerName));
  ui->StaticText3->setText(QString::fromUtf8(kMakerStreet));
  ui->StaticText4->setText(QString::fromUtf8(kMakerTown));
  ui->StaticText7->setText(QString::fromUtf8(kMakerMail));
  ui->StaticText8->setText(QString::fromUtf8(kMakerWeb));
  ui->StaticText5->setText(QString::fromUtf8(kMakerPhone));
  ui->StaticText6->setText(QString::fromUtf8(kMakerFax));
  ui->StaticText9->setText(QString::fromUtf8(kMakerRights));
}

void TInfo::StaticText7Click() {
  Modal::openUrl(QUrl(QStringLiteral("mailto:") + QString::fromUtf8(kMakerMail)));
}

void TInfo::StaticText8Click() {
  Modal::openUrl(QUrl(QStringLiteral("http://") + QString::fromUtf8(kMakerWeb)));
}

void TInfo::setVersionLine(const QString& text) {
  ui->StaticText1->setText(text);
}

}  // namespace zfuse
