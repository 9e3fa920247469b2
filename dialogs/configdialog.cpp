#include "dialogs/configdialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QLabel>

#include "config/configfile.h"
#include "config/exchange.h"
#include "config/parameterset.h"
#include "link/connection.h"
#include "link/safefile.h"
#include "windowkit/keyboard.h"
#include "windowkit/modal.h"
#include "windowkit/windowkit.h"

namespace zfuse {

// The language setting belongs to this unit; both dialogs read it.
bool sprache_deutsch = false;
bool sprache_englisch = false;

ConfigDialog::ConfigDialog(PortOfOwner port, QWidget* parent, QPoint designPosition)
    : QMainWindow(parent), port_(std::move(port)), designPosition_(designPosition) {
  Timer1 = namedTimer(this, "Timer1", kRetryPeriodMs);
  Timer3 = namedTimer(this, "Timer3", kCleanUpPeriodMs);
  connect(Timer1, &QTimer::timeout, this, &ConfigDialog::Timer1Timer);
  connect(Timer3, &QTimer::timeout, this, &ConfigDialog::Timer3Timer);
  closeOnEscape(this);
}

void ConfigDialog::attachCommonControls(QLabel* status, QLabel* versionCover, QLabel* versionText,
                                        std::vector<QLabel*> markers) {
  status_ = status;
  versionCover_ = versionCover;
  versionText_ = versionText;
  markers_ = std::move(markers);
  versionText_->clear();
  versionText_->hide();
  useFromKeyboard(this);
}

void ConfigDialog::attachRowCaptions(std::vector<RowCaption> captions) {
  rowCaptions_ = std::move(captions);
  linkRowCaptions(rowCaptions_);
  describeControls();
}

void ConfigDialog::describeControls() {
  nameFromRowCaptions(rowCaptions_);
  if (versionCover_) {
    versionCover_->setAccessibleName(
        QString::fromUtf8(sprache_englisch ? kVersionAreaEn : kVersionAreaDe));
  }
}

void ConfigDialog::attachFileMenu(QAction* oeffnen, QAction* speichern, QAction* schliessen) {
  // Ctrl+O and Ctrl+S open and save from the keyboard.
  oeffnen->setShortcut(QKeySequence::Open);
  speichern->setShortcut(QKeySequence::Save);
  connect(oeffnen, &QAction::triggered, this, &ConfigDialog::oeffnenClick);
  connect(speichern, &QAction::triggered, this, &ConfigDialog::speichernClick);
  connect(schliessen, &QAction::triggered, this, &ConfigDialog::schliessenClick);
}

void ConfigDialog::fixWindow(QSize client) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  fixClientArea(this, client);
}

void ConfigDialog::placeOnDesktop() {
  placeConfigDialog(this, designPosition_);
}

void ConfigDialog::showMessage(const char* german, const char* english, bool error) {
  showMessage(QString::fromUtf8(german), QString::fromUtf8(english), error);
}

void ConfigDialog::showMessage(const QString& german, const QString& english, bool error) {
  if (sprache_deutsch) status_->setText(german);
  if (sprache_englisch) status_->setText(english);
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

void ConfigDialog::readAttempt() {
  last_reply.clear();
  last_reply = TransactionLine(port_()).exchange(readRequest(), ReplyKind::Configuration);
  if (!applyReply({last_reply.begin(), last_reply.end()})) {
    attemptFailed();  // the dialog stays as the load button cleared it
    return;
  }
  attemptSucceeded();
  startCleanUp();
}

void ConfigDialog::writeAttempt() {
  const bool refused = markUnsetLists();
  const std::vector<uint8_t> telegram = writeTelegram();
  if (refused) {
    showMessage(kIncompleteDe, kIncompleteEn, true);
    return;
  }
  last_reply.clear();
  last_reply =
      TransactionLine(port_()).exchange(QByteArray(reinterpret_cast<const char*>(telegram.data()),
                                                   static_cast<qsizetype>(telegram.size())),
                                        ReplyKind::Acknowledgement);
  if (!acknowledges(last_reply, telegram)) {
    attemptFailed();
    return;
  }
  attemptSucceeded();
  startCleanUp();
  emit configurationWritten();
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

void ConfigDialog::setVersionText(const std::string& version) {
  versionText_->setText(
      QString::fromLatin1(kVersionPrefix) +
      QString::fromLatin1(version.data(), static_cast<qsizetype>(version.size())));
}

bool ConfigDialog::markIfUnset(QComboBox* list, QLabel* marker) {
  if (list->currentIndex() >= 0) return false;
  marker->show();
  return true;
}

uint8_t ConfigDialog::thresholdTenths(const QComboBox* list) {
  // No selection carries no value: 0.
  return static_cast<uint8_t>(list->currentData().toInt() & 0xFF);
}

void ConfigDialog::fillList(QComboBox* list, const std::vector<ListEntry>& entries) {
  list->clear();
  for (const ListEntry& e : entries) list->addItem(QString::fromStdString(e.text), e.value);
}

void ConfigDialog::selectEntry(QComboBox* list, int index) {
  list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void ConfigDialog::setEventBits(const EventBoxes& boxes, uint8_t bits) {
  for (const auto& [box, mask] : boxes) box->setChecked(bits & mask);
}

uint8_t ConfigDialog::eventBits(const EventBoxes& boxes) {
  uint8_t bits = 0;
  for (const auto& [box, mask] : boxes) {
    if (box->isChecked()) bits |= mask;
  }
  return bits;
}

namespace {
const FileQuestion kOpenQuestion{
    FileQuestion::Open,
    {QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*.*)")},
    QString()};
const FileQuestion kSaveQuestion{
    FileQuestion::Save,
    {QStringLiteral("Text files (*.txt)"), QStringLiteral("All files (*.*)")},
    QStringLiteral("txt")};

}  // namespace

void ConfigDialog::speichernClick() {
  german_format = QLocale(QLocale::German, QLocale::Germany);
  status_->clear();
  hideMarkers();
  if (markUnsetLists()) {
    showMessage(kIncompleteDe, kIncompleteEn, true);
    return;
  }
  const QString path = Modal::askFileName(this, kSaveQuestion);
  if (path.isEmpty()) return;
  // A file that cannot be written must not go unnoticed, nor cost the old one; and a
  // save that worked says so, as a load does.
  const std::string text = fileText();
  if (!saveFileWhole(path, QByteArray(text.data(), static_cast<qsizetype>(text.size())))) {
    showMessage(kFileNotSavedDe, kFileNotSavedEn, true);
    return;
  }
  showMessage(kFileSavedDe, kFileSavedEn, false);
  startCleanUp();
}

void ConfigDialog::oeffnenClick() {
  const QString path = Modal::askFileName(this, kOpenQuestion);
  if (path.isEmpty()) return;
  german_format = QLocale(QLocale::German, QLocale::Germany);
  status_->clear();
  hideMarkers();
  const FileLoad load = loadLines(readFileLines(QFile::encodeName(path).toStdString()));
  if (load.badNumber) {
    // The load stops at that field; what was set before it stays.
    Modal::showError(this,
                     QString::fromUtf8(kBadIntegerDe)
                         .arg(QString::fromLatin1(load.badNumber->data(),
                                                  static_cast<qsizetype>(load.badNumber->size()))));
    return;
  }
  if (load.check == 0) {
    showMessage(kFileReadDe, kFileReadEn, false);
  } else {
    showMessage(QString::fromUtf8(kFileErrorDe) + QString::number(load.check),
                QString::fromUtf8(kFileErrorEn) + QString::number(load.check), true);
    afterFailedLoad();
  }
  startCleanUp();
}

void ConfigDialog::closeEvent(QCloseEvent* event) {
  // The dialog's own timers keep running: a retry cycle goes on in the hidden dialog.
  emit deviceHandedBack();
  clearDialog();
  status_->hide();
  hideMarkers();
  event->accept();
}

}  // namespace zfuse
