#include "config/configdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>

#include "app/windowkit.h"

namespace zfuse {

ConfigDialog::ConfigDialog(QWidget* parent, QPoint designPosition)
    : QMainWindow(parent), designPosition_(designPosition) {
  Timer1 = namedTimer(this, "Timer1", kRetryPeriodMs);
  Timer3 = namedTimer(this, "Timer3", kCleanUpPeriodMs);
  connect(Timer1, &QTimer::timeout, this, &ConfigDialog::Timer1Timer);
  connect(Timer3, &QTimer::timeout, this, &ConfigDialog::Timer3Timer);
}

void ConfigDialog::attachCommonControls(QLabel* status, QLabel* versionCover, QLabel* versionText,
                                        std::vector<QLabel*> markers) {
  status_ = status;
  versionCover_ = versionCover;
  versionText_ = versionText;
  markers_ = std::move(markers);
  versionText_->clear();
  versionText_->hide();
}

void ConfigDialog::placeOnDesktop() {
  placeConfigDialog(this, designPosition_);
}

void ConfigDialog::showMessage(const char* german, const char* english, bool error) {
  if (sprache_deutsch) status_->setText(QString::fromUtf8(german));
  if (sprache_englisch) status_->setText(QString::fromUtf8(english));
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, error ? QColor(Qt::red) : QColor(Qt::black));
  status_->setPalette(palette);
  status_->show();
}

void ConfigDialog::hideMarkers() {
  for (QLabel* marker : markers_) marker->hide();
}

void ConfigDialog::startRead() {
  read_mode = true;
  clearDialog();
  Timer3->setInterval(kCleanUpPeriodMs);
  Timer3->stop();
  sende_ff();
}

void ConfigDialog::startWrite() {
  read_mode = false;
  Timer3->setInterval(kCleanUpPeriodMs);
  Timer3->stop();
  sende_ff();
}

void ConfigDialog::sende_ff() {
  german_format = QLocale(QLocale::German, QLocale::Germany);
  status_->clear();
  QPalette palette = status_->palette();
  palette.setColor(QPalette::WindowText, QApplication::palette().color(QPalette::WindowText));
  status_->setPalette(palette);
  status_->hide();
  hideMarkers();
  if (read_mode) {
    readAttempt();
  } else {
    writeAttempt();
  }
}

void ConfigDialog::attemptFailed() {
  // Enabling a running timer leaves its cycle alone.
  if (!Timer1->isActive()) Timer1->start();
}

void ConfigDialog::attemptSucceeded() {
  Timer1->stop();
  Timer1->setInterval(kRetryPeriodMs);
  retry_count = 0;
  showMessage(kSuccessDe, kSuccessEn, false);
}

void ConfigDialog::startCleanUp() {
  Timer3->setInterval(kCleanUpPeriodMs);
  Timer3->start();
}

void ConfigDialog::Timer1Timer() {
  sende_ff();
  ++retry_count;
  if (retry_count >= kRetryLimit) {
    retry_count = 0;
    Timer1->stop();
    Timer3->stop();
    showMessage(kFailedDe, kFailedEn, true);
  }
}

void ConfigDialog::Timer3Timer() {
  status_->hide();
  status_->clear();
  Timer3->stop();
  versionText_->clear();
  versionCover_->show();
}

void ConfigDialog::revealVersion() {
  versionCover_->hide();
  versionText_->show();
}

void ConfigDialog::closeEvent(QCloseEvent* event) {
  // The dialog's own timers keep running: a retry cycle goes on in the hidden dialog.
  if (handBackDevice) handBackDevice();
  clearDialog();
  status_->hide();
  hideMarkers();
  event->accept();
}

}  // namespace zfuse
