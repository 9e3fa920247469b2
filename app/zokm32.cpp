#include "app/zokm32.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include "app/languages.h"
#include "app/program.h"
#include "app/statustext.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "ui_zokm32.h"
#include "windowkit/desktop.h"
#include "windowkit/modal.h"
#include "windowkit/windowkit.h"
#include "windows/csvquestion.h"
#include "windows/eventwindow.h"
#include "windows/grafik.h"
#include "windows/information.h"
#include "windows/trendwindow.h"
#include "zfuse_version.h"

namespace zfuse {

namespace {
constexpr int kPollPeriodMs = 50;
constexpr int kBlinkPeriodMs = 250;
constexpr int kCentreBelowWidth = 1200;

// Shows a window that may be hidden behind others, in front and with the focus.
void bringForward(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}
}  // namespace

TForm1::TForm1(int startPort, QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TForm1>()),
      portChoice_(monitor_.connection(), startPort) {
  ui->setupUi(this);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  fixClientArea(this, {1031, 317});

  lamps_ = {{{ui->mb1_1_w, ui->mb1_1_g, ui->mb1_1, ui->Labelmb1_1},
             {ui->mb1_2_w, ui->mb1_2_r, ui->mb1_2, ui->Labelmb1_2},
             {ui->mb1_3_w, ui->mb1_3_g, ui->mb1_3, ui->Labelmb1_3},
             {ui->mb1_4_w, ui->mb1_4_r, ui->mb1_4, ui->Labelmb1_4},
             {ui->mb1_5_w, ui->mb1_5_g, ui->mb1_5, ui->Labelmb1_5},
             {ui->mb1_6_w, ui->mb1_6_r, ui->mb1_6, ui->Labelmb1_6},
             {ui->mb1_7_w, ui->mb1_7_g, ui->mb1_7, ui->Labelmb1_7},
             {ui->mb1_8_w, ui->mb1_8_r, ui->mb1_8, ui->Labelmb1_8},
             {ui->mb2_1_w, ui->mb2_1_g, ui->mb2, ui->Labelmb2_1},
             {ui->mb2_2_w, ui->mb2_2_g, ui->mb2_2, ui->Labelmb2_2}}};
  rows_ = {{{ui->i1, ui->i1_max, ui->i1_endwert, ui->k1, ui->k1_1},
            {ui->i2, ui->i2_max, ui->i2_endwert, ui->k2, ui->k1_2},
            {ui->i3, ui->i3_max, ui->i3_endwert, ui->k3, ui->k1_3},
            {ui->i4, ui->i4_max, ui->i4_endwert, ui->k4, ui->k1_4}}};

  connect(&monitor_, &StatusMonitor::frameCompleted, this, &TForm1::showActivityIndicator);
  connect(&monitor_, &StatusMonitor::telegramSeen, this, &TForm1::startActivityBlink);
  connect(&monitor_, &StatusMonitor::statusDecoded, this, &TForm1::showStatus);
  connect(&monitor_, &StatusMonitor::silent, this, &TForm1::emptyDisplay);
  detector_.watch(&monitor_);
  connect(&detector_, &EventDetector::occurred, this,
          [this](const DeviceEvent& e) { eventLog_.append(e); });
  recording_.watch(&monitor_);
  // Each row names the port its telegram came through, as the connection has it.
  recording_.setPortName([this] { return monitor_.connection().portName(); });
  connect(&recording_, &StatusRecording::failed, this, &TForm1::recordingFailed);
  recordingMark_ = new QLabel(ui->menubar);
  recordingMark_->setObjectName(QStringLiteral("aufzeichnung"));
  recordingMark_->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold;"));
  recordingMark_->setContentsMargins(0, 0, 8, 0);
  recordingMark_->hide();
  ui->menubar->setCornerWidget(recordingMark_, Qt::TopRightCorner);
  ui->Aufzeichnungstarten1->setCheckable(true);

  Timer1 = namedTimer(this, "Timer1", kPollPeriodMs);
  Timer2 = namedTimer(this, "Timer2", StatusMonitor::kWatchdogPeriodMs);
  Timer3 = namedTimer(this, "Timer3", kBlinkPeriodMs);
  connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
  connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
  connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);

  connect(ui->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(ui->info1, &QAction::triggered, this, &TForm1::info1Click);
  connect(ui->Beenden1, &QAction::triggered, this, &TForm1::Beenden1Click);
  connect(ui->Aufzeichnungstarten1, &QAction::triggered, this, &TForm1::Aufzeichnungstarten1Click);
  connect(ui->Aufzeichnungbeenden1, &QAction::triggered, this, &TForm1::Aufzeichnungbeenden1Click);
  connect(ui->Ereignisse1, &QAction::triggered, this, &TForm1::Ereignisse1Click);
  connect(ui->Verlauf1, &QAction::triggered, this, &TForm1::Verlauf1Click);
  connect(ui->Kennlinie1, &QAction::triggered, this, &TForm1::Kennlinie1Click);
  connect(ui->deutsch, &ClickableLabel::clicked, this, &TForm1::deutschClick);
  connect(ui->englisch, &ClickableLabel::clicked, this, &TForm1::englischClick);

  sharpenPictures(this);
  // The port choice and the configuration button are reachable with the keyboard; the
  // activity indicator only shows.
  ui->comport->setFocusPolicy(Qt::StrongFocus);
  ui->Button1->setFocusPolicy(Qt::StrongFocus);
  ui->a->setFocusPolicy(Qt::NoFocus);
  setTabOrder(ui->comport, ui->Button1);
  ui->comport->setCurrentIndex(portChoice_.startPort() - 1);
  FormCreate();
  // All three timers run from the window's creation on.
  Timer1->start();
  Timer2->start();
  Timer3->start();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
  const QRect area = desktopWorkArea();
  if (area.width() < kCentreBelowWidth) {
    move(centredEdge(area.width(), frameGeometry().width()), 0);
  } else {
    move(0, 0);
  }
  ui->Label16->setText(QStringLiteral("Zokara Electronic Fuse"));
}

void TForm1::oeffnecom() {
  portChoice_.oeffnecom();
}

void TForm1::schliessecom() {
  portChoice_.schliessecom();
}

void TForm1::Timer1Timer() {
  portChoice_.pollTick(ui->comport->currentIndex());
}

void TForm1::showActivityIndicator() {
  ui->comport->hide();
  ui->a->show();
}

void TForm1::startActivityBlink(quint8 type) {
  // The flags follow every telegram of a known model, good check byte or not.
  modelFlags_.set(type);
  ui->a->setChecked(true);
  // Switching on a running blink timer leaves its period as it is.
  if (!Timer3->isActive()) Timer3->start();
}

void TForm1::Timer3Timer() {
  ui->a->setChecked(false);
  Timer3->stop();
}

void TForm1::setLamp(const Lamp& lamp, bool lit) {
  lamp.white->setVisible(!lit);
  lamp.lit->setVisible(lit);
  describeLamp(lamp);
}

void TForm1::describeLamp(const Lamp& lamp) {
  const bool lit = !lamp.lit->isHidden();
  const char* state = sprache_englisch ? (lit ? ": on" : ": off") : (lit ? ": an" : ": aus");
  // Told only when it changes: every telegram passes here.
  const QString name = lamp.caption->text() + QLatin1String(state);
  if (lamp.outline->accessibleName() != name) lamp.outline->setAccessibleName(name);
}

void TForm1::describeForAccessibility() {
  for (const Lamp& lamp : lamps_) describeLamp(lamp);
  // A value label is named by its group and its row, e.g. "aktueller Strom Kanal 1".
  const auto row = [](const QLabel* heading, const QLabel* rowLabel) {
    QString name = heading->text();
    if (rowLabel) name += QLatin1Char(' ') + rowLabel->text().remove(QLatin1Char(':'));
    return name;
  };
  for (const ChannelRow& r : rows_) {
    r.present->setAccessibleName(row(ui->Label1, r.presentCaption));
    r.highest->setAccessibleName(row(ui->Label2, r.highestCaption));
    r.rated->setAccessibleName(row(ui->Label3, r.presentCaption));
  }
  ui->uin->setAccessibleName(row(ui->Label15, nullptr));
  ui->uin_min->setAccessibleName(row(ui->Label7, nullptr));
  // Each flag names its language in that language.
  ui->deutsch->setAccessibleName(QStringLiteral("Deutsch"));
  ui->englisch->setAccessibleName(QStringLiteral("English"));
  ui->comport->setAccessibleName(QStringLiteral("COM port"));
}

void TForm1::hideLamp(const Lamp& lamp) {
  lamp.outline->hide();
  lamp.white->hide();
  lamp.lit->hide();
}

void TForm1::showStatus(const StatusReading& reading) {
  // The reading names its model; channels 3 and 4 show for the four-channel variants.
  const ModelFacts* model = modelFacts(reading.type);
  const bool fourChannels = model && model->windowShowsBackChannels;
  const int shown = fourChannels ? 4 : 2;
  for (int bit = 0; bit < 2 * shown; ++bit) {
    setLamp(lamps_[bit], reading.channelBits & (1u << bit));
  }
  if (!fourChannels) {
    // Hidden for good: no later telegram brings outlines and captions back.
    for (int lamp : {4, 6, 5, 7}) {
      hideLamp(lamps_[lamp]);
      lamps_[lamp].caption->hide();
    }
  }
  setLamp(lamps_[8], reading.powerGoodLow());
  setLamp(lamps_[9], reading.hardwareFault());

  const StatusTexts texts = statusTexts(reading);
  for (int ch = 0; ch < 4; ++ch) {
    const ChannelRow& row = rows_[ch];
    if (ch < shown) {
      row.present->setText(QString::fromStdString(texts.present[ch]));
      row.highest->setText(QString::fromStdString(texts.highest[ch]));
      row.rated->setText(QString::fromStdString(texts.rated[ch]));
    } else {
      row.presentCaption->hide();
      row.highestCaption->hide();
      row.present->clear();
      row.highest->clear();
      row.rated->clear();
    }
  }
  ui->uin->setText(QString::fromStdString(texts.uin));
  ui->uin_min->setText(QString::fromStdString(texts.uinMin));
}

void TForm1::Timer2Timer() {
  monitor_.watchdogTick();
}

void TForm1::emptyDisplay() {
  // A whole second without a byte: the device is gone, show nothing; the port list
  // comes back so that another port can be chosen.
  for (const Lamp& lamp : lamps_) setLamp(lamp, false);
  for (const ChannelRow& row : rows_) {
    row.present->clear();
    row.highest->clear();
    row.rated->clear();
  }
  ui->uin->clear();
  ui->uin_min->clear();
  ui->a->hide();
  ui->comport->show();
}

void TForm1::Button1Click() {
  if (modelFlags_.model_standard) {
    showOnTop(para);
  } else {
    showOnTop(parameter_zokx);
    parameter_zokx->prepareForModel();
  }
  Timer1->stop();
  schliessecom();
  setEnabled(false);
}

void TForm1::configurationClosed() {
  setEnabled(true);
  Timer1->start();
  oeffnecom();
}

void TForm1::info1Click() {
  Info->show();
  Info->setVersionLine(QStringLiteral("Version ") + QString::fromLatin1(kVersion));
}

void TForm1::Beenden1Click() {
  close();
}

QString TForm1::portName() const {
  return ui->comport->currentText();
}

void TForm1::Aufzeichnungstarten1Click() {
  const bool english = sprache_englisch;
  const std::optional<CsvSaveAnswer> answer =
      askCsvSave(this, english, csvFileName(portName(), QDateTime::currentDateTime()));
  if (!answer) {
    showRecordingState();
    return;
  }
  const QString path = answer->path;
  if (!recording_.start(path, answer->dialect)) {
    const bool notAFile = recording_.error() == StatusRecording::Error::NotAFile;
    const char* text = english
                           ? (notAFile ? "cannot record into %1: it is not a file"
                                       : "cannot record into %1: it cannot be written")
                           : (notAFile ? "Aufzeichnung in %1 nicht möglich: das ist keine Datei"
                                       : "Aufzeichnung in %1 nicht möglich: die Datei kann nicht "
                                         "geschrieben werden");
    Modal::showError(this, QString::fromUtf8(text).arg(QDir::toNativeSeparators(path)));
  }
  showRecordingState();
}

void TForm1::Aufzeichnungbeenden1Click() {
  recording_.stop();
  showRecordingState();
}

void TForm1::recordingFailed(StatusRecording::Error) {
  showRecordingState();
  const QString path = QDir::toNativeSeparators(recording_.path());
  // Told outside the status path that noticed it, so no telegram waits on the box.
  QTimer::singleShot(0, this, [this, path] {
    Modal::showError(this, sprache_englisch
                               ? QStringLiteral("recording stopped: writing to %1 failed (disk "
                                                "full or medium removed); the rows written "
                                                "so far are kept")
                                     .arg(path)
                               : QStringLiteral("Aufzeichnung beendet: Schreiben in %1 "
                                                "fehlgeschlagen (Datenträger voll oder "
                                                "entfernt); die bisher geschriebenen Zeilen "
                                                "bleiben erhalten")
                                     .arg(path));
  });
}

void TForm1::showRecordingState() {
  const bool active = recording_.active();
  ui->Aufzeichnungstarten1->setEnabled(!active);
  ui->Aufzeichnungstarten1->setChecked(active);
  ui->Aufzeichnungbeenden1->setEnabled(active);
  // The mark at the right end of the menu bar, where it moves none of the window's
  // controls: a red dot and the word, the file's name as its tooltip.
  const bool english = sprache_englisch;
  recordingMark_->setText(english ? QStringLiteral("● recording")
                                  : QStringLiteral("● Aufzeichnung"));
  const QString file = QDir::toNativeSeparators(recording_.path());
  recordingMark_->setToolTip(file);
  recordingMark_->setAccessibleName(
      (english ? QStringLiteral("recording into %1") : QStringLiteral("Aufzeichnung in %1"))
          .arg(file));
  recordingMark_->setVisible(active);
}

void TForm1::Ereignisse1Click() {
  bringForward(Events);
}

void TForm1::Verlauf1Click() {
  bringForward(Trend);
}

void TForm1::Kennlinie1Click() {
  Form2->setLive(true);
  showOnTop(Form2);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The main window is the program: closing it ends the run, whatever else is open.
  event->accept();
  QCoreApplication::quit();
}

void TForm1::deutschClick() {
  sprache_deutsch = true;
  sprache_englisch = false;
  applyLanguage();
}

void TForm1::englischClick() {
  sprache_deutsch = false;
  sprache_englisch = true;
  applyLanguage();
}

void TForm1::applyLanguage() {
  // Hidden dialogs too, so that they open in the language now chosen.
  const bool english = sprache_englisch;
  applyCaptions(this, mainWindowCaptions(), english);
  applyCaptions(para, standardDialogCaptions(), english);
  applyCaptions(parameter_zokx, variantDialogCaptions(), english);
  if (Events) Events->applyLanguage(english);
  if (Trend) Trend->applyLanguage(english);
  if (Form2) Form2->applyLanguage(english);
  describeForAccessibility();
  showRecordingState();
  followLanguage(english);
}

}  // namespace zfuse
