// The diagnosis from the main window: recording from the menu, the event log window, the
// trend window and the operating points on the trip characteristic, with the program
// started in-process against the simulated fuse.

#include <sys/resource.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>

#include "app/languages.h"
#include "app/zokm32.h"
#include "dialogs/parameter2.h"
#include "tests/support/filesize_limit.h"
#include "tests/support/mnemonics.h"
#include "tests/support/program_fixture.h"
#include "windowkit/modal.h"
#include "windowkit/svgpicture.h"
#include "windows/csvquestion.h"
#include "windows/eventwindow.h"
#include "windows/grafik.h"
#include "windows/trendwindow.h"

namespace zfuse {
namespace {

QByteArray contentOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class Diagnosis : public test::ProgramFixture {
 protected:
  void SetUp() override {
    simFaults = 0;
    ProgramFixture::SetUp();
    ASSERT_TRUE(dir.isValid());
    Modal::fileAnswer = [this](const FileQuestion& q) {
      asked.push_back(q);
      return answer;
    };
    Modal::errorSeen = [this](const QString& text) { errors << text; };
    resetCsvFolder();
  }
  void TearDown() override {
    Modal::fileAnswer = nullptr;
    Modal::fileChoice = nullptr;
    Modal::errorSeen = nullptr;
    resetCsvFolder();
    ProgramFixture::TearDown();
  }
  QAction* action(const char* name) { return control<QAction>(Form1, name); }
  QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  // The third cell of every row: "model" for the header, the model or "gap"; the cells
  // split at the separator of the file's dialect.
  QStringList rowKinds(const QString& file) {
    QStringList kinds;
    const QByteArray content = contentOf(file);
    const char separator = content.startsWith("time;") ? ';' : ',';
    for (const QByteArray& row : content.split('\n')) {
      if (!row.isEmpty()) kinds << QString::fromUtf8(row.split(separator).value(2));
    }
    return kinds;
  }

  QTemporaryDir dir;
  QString answer;
  std::vector<FileQuestion> asked;
  QStringList errors;
};

TEST_F(Diagnosis, MenuItemsSitBetweenInfoAndCloseAndActByTheirLetters) {
  struct Keys {
    bool english;
    Qt::Key menu, start, stop, events, trend, characteristic;
  };
  const Keys languages[] = {
      {false, Qt::Key_D, Qt::Key_A, Qt::Key_B, Qt::Key_E, Qt::Key_V, Qt::Key_K},
      {true, Qt::Key_F, Qt::Key_S, Qt::Key_T, Qt::Key_E, Qt::Key_R, Qt::Key_A},
  };
  QStringList order;
  for (const QAction* a : control<QMenu>(Form1, "oeffnen1")->actions()) order << a->objectName();
  EXPECT_EQ(order, (QStringList{"info1", "Aufzeichnungstarten1", "Aufzeichnungbeenden1",
                                "Ereignisse1", "Verlauf1", "Kennlinie1", "Beenden1"}));
  for (const Keys& k : languages) {
    SCOPED_TRACE(k.english ? "en" : "de");
    k.english ? Form1->englischClick() : Form1->deutschClick();
    Form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
    const auto pick = [&](Qt::Key item) {
      QTest::keyClick(Form1, k.menu, Qt::AltModifier);
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      ASSERT_TRUE(menu) << "no menu opened";
      QTest::keyClick(menu, item);
    };
    answer = path(k.english ? "en.csv" : "de.csv");
    EXPECT_FALSE(action("Aufzeichnungbeenden1")->isEnabled());
    pick(k.start);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, FileQuestion::Save);
    EXPECT_EQ(asked[0].defaultSuffix, "csv");
    asked.clear();
    EXPECT_TRUE(Form1->recording().active());
    EXPECT_FALSE(action("Aufzeichnungstarten1")->isEnabled());
    pick(k.stop);
    EXPECT_FALSE(Form1->recording().active());
    EXPECT_TRUE(action("Aufzeichnungstarten1")->isEnabled());
    for (const auto& [key, window] : {std::pair<Qt::Key, QWidget*>{k.events, Events},
                                      {k.trend, Trend},
                                      {k.characteristic, Form2}}) {
      Form1->activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(Form1));
      pick(key);
      EXPECT_TRUE(window->isVisible()) << window->objectName().toStdString();
      window->close();
    }
  }
  EXPECT_TRUE(Form2->live());  // opened from the menu
}

// Against the simulator: a row per telegram, a gap while a dialog holds the port, the
// rows go on when it is closed; the main window keeps its size.
TEST_F(Diagnosis, RecordingGoesOnWhileADialogHoldsThePort) {
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  answer = path("rec.csv");
  Form1->Aufzeichnungstarten1Click();
  ASSERT_TRUE(Form1->recording().active());
  ASSERT_TRUE(waitFor([] { return Form1->recording().telegramRows() >= 5; }));
  Form1->Button1Click();  // the fuse-variant dialog takes the port
  ASSERT_TRUE(waitFor([] { return Form1->recording().gapRows() >= 1; }, 4000));
  parameter_zokx->close();
  const quint64 before = Form1->recording().telegramRows();
  ASSERT_TRUE(waitFor([&] { return Form1->recording().telegramRows() >= before + 5; }, 4000));
  Form1->Aufzeichnungbeenden1Click();

  const QStringList kinds = rowKinds(answer);
  ASSERT_GE(kinds.size(), 12);
  EXPECT_EQ(kinds.front(), "model");
  EXPECT_EQ(kinds.count("4ch10a"), int(Form1->recording().telegramRows()));
  const qsizetype gap = kinds.indexOf("gap");
  ASSERT_GT(gap, 5);
  EXPECT_EQ(kinds.mid(gap + 1).count("4ch10a"), kinds.size() - gap - 1);
  EXPECT_TRUE(errors.isEmpty());
  EXPECT_EQ(Form1->centralWidget()->size(), QSize(1031, 317));
}

TEST_F(Diagnosis, RefusedNameAndFullDiskAreToldInTheLanguage) {
  const QByteArray fifo = QFile::encodeName(path("fifo"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
  answer = path("fifo");
  Form1->Aufzeichnungstarten1Click();
  EXPECT_FALSE(Form1->recording().active());
  EXPECT_EQ(errors,
            QStringList{"Aufzeichnung in " + path("fifo") + " nicht möglich: das ist keine Datei"});
  Form1->englischClick();
  answer = path("folder-that-is-not/x.csv");
  Form1->Aufzeichnungstarten1Click();
  EXPECT_EQ(errors.value(1), "cannot record into " + answer + ": it is not a file");
  errors.clear();

  // The disk fills up while telegrams come in.
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  answer = path("full.csv");
  bool told = false;
  {
    const test::FileSizeLimit full(800);
    Form1->Aufzeichnungstarten1Click();
    told = waitFor([this] { return !errors.isEmpty(); }, 5000);
  }
  ASSERT_TRUE(told);
  EXPECT_TRUE(errors[0].startsWith("recording stopped: writing to " + answer + " failed"))
      << errors[0].toStdString();
  EXPECT_FALSE(Form1->recording().active());
  EXPECT_TRUE(action("Aufzeichnungstarten1")->isEnabled());
  EXPECT_FALSE(action("Aufzeichnungbeenden1")->isEnabled());
  const QByteArray kept = contentOf(answer);
  EXPECT_TRUE(kept.endsWith("\r\n"));
  EXPECT_EQ(kept.count('\n'), 1 + int(Form1->recording().telegramRows()));
}

TEST_F(Diagnosis, EventLogFillsWhileHiddenShowsNewestFirstAndExports) {
  // The simulated channels swell into their warnings within seconds.
  ASSERT_TRUE(waitFor([] { return Form1->eventLog().size() >= 2; }, 8000));
  EXPECT_FALSE(Events->isVisible());
  Form1->Ereignisse1Click();
  ASSERT_TRUE(Events->isVisible());
  QTableView* table = Events->table();
  ASSERT_TRUE(waitFor([&] { return table->model()->rowCount() == Form1->eventLog().size(); }));
  const DeviceEvent& newest = Form1->eventLog().at(0);
  EXPECT_EQ(table->model()->index(0, 1).data().toString(),
            EventTableModel::eventText(newest, false));
  EXPECT_EQ(table->model()->headerData(1, Qt::Horizontal).toString(), "Ereignis");
  Form1->englischClick();
  EXPECT_EQ(table->model()->headerData(1, Qt::Horizontal).toString(), "event");
  EXPECT_EQ(Events->windowTitle(), "events");

  answer = path("events.csv");
  Events->exportClick();
  const QByteArray csv = contentOf(answer);
  EXPECT_TRUE(csv.startsWith("time,port,event,channel,on,i1_A,i2_A,i3_A,i4_A,uin_V\r\n"));
  EXPECT_GE(csv.count('\n'), 3);
  // Where a name is no file, the export is refused with a message.
  answer = dir.path();
  Events->exportClick();
  EXPECT_EQ(errors, QStringList{"could not save file"});
}

TEST_F(Diagnosis, WrittenConfigurationIsLogged) {
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  Form1->Button1Click();
  QTest::mouseClick(control<QPushButton>(parameter_zokx, "Button3"), Qt::LeftButton);
  QTest::mouseClick(control<QPushButton>(parameter_zokx, "Button2"), Qt::LeftButton);
  ASSERT_EQ(control<QLabel>(parameter_zokx, "status")->text(), "Übertragung erfolgreich!");
  parameter_zokx->close();
  const EventLog& log = Form1->eventLog();
  ASSERT_GE(log.size(), 1);
  int written = 0;
  for (int i = 0; i < log.size(); ++i) {
    written += log.at(i).kind == DeviceEvent::Kind::ConfigurationWritten;
  }
  EXPECT_EQ(written, 1);
}

TEST(EventTexts, EveryKindInBothLanguages) {
  using Kind = DeviceEvent::Kind;
  struct Case {
    DeviceEvent event;
    const char *german, *english, *stateDe, *stateEn;
  };
  const Case cases[] = {
      {{{}, Kind::Warning, 0, true}, "Überstrom Kanal 1", "overcurrent channel 1", "an", "on"},
      {{{}, Kind::Trip, 3, false}, "Kanal 4 ausgelöst", "channel 4 open circuit", "aus", "off"},
      {{{}, Kind::PowerGoodLow, -1, true}, "Uin < Power Good", "Uin < power good", "an", "on"},
      {{{}, Kind::HardwareFault, -1, false}, "Gerätefehler", "hardware fault", "aus", "off"},
      {{{}, Kind::ConnectionLost, -1, true}, "Verbindung unterbrochen", "connection lost", "", ""},
      {{{}, Kind::ConnectionBack, -1, true}, "Verbindung wieder da", "connection back", "", ""},
      {{{}, Kind::ConfigurationWritten, -1, true},
       "Konfiguration geschrieben",
       "configuration written",
       "",
       ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EventTableModel::eventText(c.event, false), QString::fromUtf8(c.german));
    EXPECT_EQ(EventTableModel::eventText(c.event, true), QString::fromUtf8(c.english));
    EXPECT_EQ(EventTableModel::stateText(c.event, false), QString::fromUtf8(c.stateDe));
    EXPECT_EQ(EventTableModel::stateText(c.event, true), QString::fromUtf8(c.stateEn));
  }
}

// A burst of lamp changes: the log keeps its bound and the table follows it.
TEST_F(Diagnosis, BurstOfLampChangesKeepsTheBound) {
  device->setFaults(sim::kSilence);
  Form1->Ereignisse1Click();
  sim::Measurements m;
  m.rated = {10, 10, 10, 10};
  for (int i = 0; i < 3000; ++i) {
    m.channelBits = static_cast<uint8_t>(i % 2 ? 0xFF : 0x00);
    m.supplyBits = static_cast<uint8_t>(i % 2 ? 0x03 : 0x00);
    const std::vector<uint8_t> t = sim::statusTelegram(kType4ch10A, m);
    Form1->monitor().feed(t.data(), t.size());
  }
  EXPECT_EQ(Form1->eventLog().size(), EventLog::kMaxEntries);
  EXPECT_GT(Form1->eventLog().dropped(), 0u);
  ASSERT_TRUE(
      waitFor([] { return Events->table()->model()->rowCount() == EventLog::kMaxEntries; }));
}

TEST_F(Diagnosis, TrendPausesSwitchesSpansAndMarksTrips) {
  qint64 now = 1'800'000'000'000;
  Trend->setClock([&] { return now; });
  Trend->history().clear();
  StatusReading r;
  r.type = kType4ch10A;
  r.rated = {10, 10, 10, 10};
  r.uin = 2400;
  for (int i = 0; i < 600; ++i, now += 100) {
    r.present = {uint16_t(i), 500, 0, 1000};
    Trend->addReading(r);
  }
  Trend->addEvent({QDateTime(), DeviceEvent::Kind::Trip, 1, true});
  Trend->addEvent({QDateTime(), DeviceEvent::Kind::Warning, 2, false});  // went out: no mark
  Form1->Verlauf1Click();
  TrendPlot* plot = Trend->plot();
  EXPECT_EQ(Trend->history().marks(0, now + 1).size(), 1u);

  auto* spans = control<QComboBox>(Trend, "zeitraum");
  QStringList names;
  for (int i = 0; i < spans->count(); ++i) names << spans->itemText(i);
  EXPECT_EQ(names, (QStringList{"1 min", "10 min", "1 h", "24 h"}));
  EXPECT_EQ(plot->span(), 600'000);
  spans->setFocus();
  QTest::keyClick(spans, Qt::Key_Up);  // the keyboard picks 1 min
  EXPECT_EQ(plot->span(), 60'000);
  const std::vector<ColumnRange> oneMinute = plot->shownColumns(0);
  // The minute spans the plot: the newest column holds the newest current, 5,99 A of 10 A.
  const auto newestColumn = std::find_if(oneMinute.rbegin(), oneMinute.rend(),
                                         [](const ColumnRange& c) { return !c.empty(); });
  ASSERT_NE(newestColumn, oneMinute.rend());
  EXPECT_FLOAT_EQ(newestColumn->max, 59.9F);

  Trend->setPaused(true);
  EXPECT_TRUE(plot->paused());
  const qint64 end = plot->viewEnd();
  for (int i = 0; i < 100; ++i) {
    now += 100;
    Trend->addReading(r);
  }
  EXPECT_EQ(plot->viewEnd(), end);
  EXPECT_EQ(plot->shownColumns(0), oneMinute);
  EXPECT_TRUE(plot->accessibleDescription().contains("angehalten"));
  Trend->setPaused(false);
  EXPECT_EQ(plot->viewEnd(), now);
  EXPECT_NE(plot->shownColumns(0), oneMinute);

  // The description names the values in amperes and percent.
  Form1->englischClick();
  plot->refresh();
  EXPECT_TRUE(plot->accessibleDescription().contains("channel 2: 5.00 A (50 %)"))
      << plot->accessibleDescription().toStdString();
  EXPECT_EQ(plot->accessibleName(), "trend");
}

// The operating points: a table of loads, each marker where the drawing has that load
// and the trip time the staircase gives there.
TEST_F(Diagnosis, OperatingPointsOnTheCharacteristic) {
  struct Case {
    uint16_t present;  // hundredths of an ampere at a rated current of 10 A
    double drawingX;
    const char* time;  // as drawn, German
  };
  const Case cases[] = {
      {500, -1, ""},    // 0,5 × I_N: left of the axis, listed beside the drawing
      {1000, 110, ""},  // 1,0
      {1200, 180, ""},  // 1,2: no trip time yet
      {1500, 285, "3,16 s"}, {2500, 635, "0,1 s"},
      {4000, 870, "0,01 s"},  // held at the end of the axis
  };
  device->setFaults(sim::kSilence);
  Form1->Kennlinie1Click();
  ASSERT_TRUE(Form2->live());
  const QRectF picture = Form2->findChild<SvgPicture*>("Image2")->pictureRect();
  const double scale = picture.width() / 903.0;
  for (const uint8_t type : {kType4ch10A, kTypeStandard}) {
    for (const Case& c : cases) {
      StatusReading r;
      r.type = type;
      r.rated = {10, 10, 0, 10};
      r.present = {c.present, 100, 0, 0};
      Form2->showLoads(r);
      LoadMarker* m = Form2->marker(0);
      if (c.drawingX < 0) {
        EXPECT_FALSE(m->isVisible());
        ASSERT_FALSE(Form2->legend()->entries().empty());
        EXPECT_EQ(Form2->legend()->entries()[0].text, "1: 0,50 × I_N");
        continue;
      }
      ASSERT_TRUE(m->isVisible());
      EXPECT_NEAR(m->lineX(), picture.left() + c.drawingX * scale, 0.01) << c.present;
      EXPECT_EQ(m->timeText(), type == kTypeStandard ? "" : c.time) << c.present;
      EXPECT_TRUE(m->accessibleName().startsWith("Kanal 1: ")) << c.present;
      // Inside the window, wherever the load stands.
      EXPECT_TRUE(Form2->rect().contains(m->geometry())) << c.present;
      EXPECT_FALSE(Form2->marker(2)->isVisible());  // switched off
    }
  }
  EXPECT_EQ(Form2->marker(0)->accessibleName(), "Kanal 1: 4,00 × I_N, außerhalb der Achse");
  Form1->englischClick();
  EXPECT_EQ(Form2->marker(0)->label(), "1: 4.00 × I_N");
  EXPECT_EQ(Form2->windowTitle(), "Auslösecharakteristik");

  // From the dialog's thumbnail: the picture alone.
  parameter_zokx->characteristicRequested();
  EXPECT_FALSE(Form2->live());
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(Form2->marker(ch)->isVisible());
}

TEST_F(Diagnosis, LiveOperatingPointsFollowTheSimulator) {
  Form1->Kennlinie1Click();
  // Each channel on the curve or, below 1 × I_N, in the list beside it.
  const auto shown = [](int ch) {
    for (const LoadLegend::Entry& e : Form2->legend()->entries()) {
      if (e.channel == ch && Form2->legend()->isVisible()) return true;
    }
    return Form2->marker(ch)->isVisible();
  };
  ASSERT_TRUE(waitFor([&] { return shown(0); }));
  for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(shown(ch)) << ch;
  device->setFaults(sim::kSilence);
  ASSERT_TRUE(waitFor([&] { return !shown(0); }, 4000));
}

// The new windows in both languages: every caption fits, the windows fit the work
// area, and the controls are reached with Tab.
TEST_F(Diagnosis, WindowsInBothLanguagesFitAndAreReachedByKeyboard) {
  struct Window {
    QWidget* window;
    std::span<const Caption> table;
  };
  const Window windows[] = {{Events, eventWindowCaptions()}, {Trend, trendWindowCaptions()}};
  for (const bool english : {false, true}) {
    english ? Form1->englischClick() : Form1->deutschClick();
    for (const Window& w : windows) {
      SCOPED_TRACE(w.window->objectName().toStdString() + (english ? " en" : " de"));
      EXPECT_EQ(captionControlsMissing(w.window, w.table), QStringList{});
      w.window->show();
      QApplication::processEvents();
      EXPECT_TRUE(QRect(0, 0, 1920, 1040).contains(w.window->frameGeometry()));
      EXPECT_GE(w.window->width(), w.window->minimumWidth());
      for (const Caption& c : w.table) {
        if (*c.control == '\0') {
          EXPECT_EQ(w.window->windowTitle(), QString::fromUtf8(english ? c.english : c.german));
          continue;
        }
        auto* control = w.window->findChild<QWidget*>(QString::fromLatin1(c.control));
        ASSERT_TRUE(control);
        EXPECT_LE(control->sizeHint().width(), control->width()) << c.control;
        const QString shown = qobject_cast<QAbstractButton*>(control)
                                  ? qobject_cast<QAbstractButton*>(control)->text()
                                  : qobject_cast<QLabel*>(control)->text();
        EXPECT_EQ(test::visibleText(shown),
                  test::visibleText(QString::fromUtf8(english ? c.english : c.german)));
      }
      w.window->close();
    }
  }
  // Tab reaches the trend's span list, pause button and plot, which is named.
  Form1->Verlauf1Click();
  Trend->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Trend));
  QStringList reached;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : Trend, Qt::Key_Tab);
    if (QApplication::focusWidget()) reached << QApplication::focusWidget()->objectName();
  }
  for (const char* name : {"zeitraum", "anhalten", "verlauf"})
    EXPECT_TRUE(reached.contains(name)) << name;
  EXPECT_FALSE(Trend->plot()->accessibleName().isEmpty());
  // A small work area: the windows shrink to it, no smaller than their minimum.
  setWorkAreaOverride(QRect(0, 0, 640, 480));
  Trend->resize(900, 440);
  fitInWorkArea(Trend);
  EXPECT_LE(Trend->width(), 640);
  EXPECT_GE(Trend->frameGeometry().left(), 0);
  EXPECT_GE(Trend->frameGeometry().top(), 0);
}

// The recording's save dialog proposes a name of port, date and time in the folder last
// chosen, preselects the dialect of the window's language, and the main window shows the
// recording without moving any of its controls.
TEST_F(Diagnosis, RecordingProposesANameAndShowsItself) {
  std::vector<QRect> before;
  const QList<QWidget*> controls = Form1->centralWidget()->findChildren<QWidget*>();
  for (const QWidget* w : controls) before.push_back(w->geometry());
  QLabel* mark = Form1->recordingMark();
  ASSERT_TRUE(mark);
  EXPECT_FALSE(mark->isVisible());

  answer = path("first.csv");
  Form1->Aufzeichnungstarten1Click();
  ASSERT_EQ(asked.size(), 1u);
  const QFileInfo proposed(asked[0].proposedName);
  EXPECT_EQ(proposed.absolutePath(), QDir::currentPath());
  EXPECT_TRUE(QRegularExpression("^zfuse-COM1-\\d{4}-\\d\\d-\\d\\d-\\d{6}\\.csv$")
                  .match(proposed.fileName())
                  .hasMatch())
      << proposed.fileName().toStdString();
  EXPECT_EQ(asked[0].preselected, FileQuestion::kCsvSemicolon);  // German window
  ASSERT_TRUE(Form1->recording().active());
  EXPECT_TRUE(mark->isVisible());
  EXPECT_EQ(mark->text(), "● Aufzeichnung");
  EXPECT_EQ(mark->toolTip(), answer);
  EXPECT_TRUE(action("Aufzeichnungstarten1")->isChecked());
  std::vector<QRect> during;
  for (const QWidget* w : controls) during.push_back(w->geometry());
  EXPECT_EQ(during, before);
  EXPECT_EQ(Form1->centralWidget()->size(), QSize(1031, 317));
  Form1->Aufzeichnungbeenden1Click();
  EXPECT_FALSE(mark->isVisible());
  EXPECT_FALSE(action("Aufzeichnungstarten1")->isChecked());
  EXPECT_TRUE(contentOf(answer).startsWith("time;port;model;i1_A;"));

  // English: the comma dialect preselected, the folder of the last answer proposed; the
  // operator picks the spreadsheet dialect all the same.
  Form1->englischClick();
  Modal::fileChoice = [this](const FileQuestion& q) {
    asked.push_back(q);
    return FileChoice{path("second.csv"), FileQuestion::kCsvSemicolon};
  };
  Form1->Aufzeichnungstarten1Click();
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(QFileInfo(asked[1].proposedName).absolutePath(), dir.path());
  EXPECT_EQ(asked[1].preselected, FileQuestion::kCsvComma);
  EXPECT_EQ(Form1->recording().dialect(), CsvDialect::Semicolon);
  EXPECT_EQ(mark->text(), "● recording");
  Form1->Aufzeichnungbeenden1Click();
  EXPECT_TRUE(errors.isEmpty());
}

TEST(CsvFileName, PortDateAndTimeWithoutCharactersFileNamesShouldNotHold) {
  const QDateTime time(QDate(2026, 12, 10), QTime(14, 3, 7));
  EXPECT_EQ(csvFileName("COM1", time), "zfuse-COM1-2026-12-10-140307.csv");
  EXPECT_EQ(csvFileName("COM11", time, "events"), "zfuse-COM11-events-2026-12-10-140307.csv");
  EXPECT_EQ(csvFileName("/dev/tty:S0 x", time), "zfuse-_dev_tty_S0_x-2026-12-10-140307.csv");
}

// Telegrams fed into the status path: channel 4 warns, then trips; the connection goes.
void feedTripOfChannel4() {
  sim::Measurements m;
  m.rated = {10, 10, 10, 10};
  m.present = {420, 100, 0, 1620};
  m.uin = 2381;
  for (const uint8_t bits : {uint8_t(0x00), uint8_t(0x40), uint8_t(0x80)}) {
    m.channelBits = bits;
    if (bits == 0x80) m.present[3] = 0;
    const std::vector<uint8_t> t = sim::statusTelegram(kType4ch10A, m);
    Form1->monitor().feed(t.data(), t.size());
  }
}

// Each entry keeps its telegram's values (tooltip), the filters narrow the table, and
// Enter on an entry opens the trend paused at its moment with the cursor on it.
TEST_F(Diagnosis, EventLogKeepsValuesFiltersAndOpensTheTrend) {
  feedTripOfChannel4();
  Form1->monitor().watchdogTick();  // no byte for a second: the connection is lost
  Form1->monitor().watchdogTick();
  Form1->Ereignisse1Click();
  QTableView* table = Events->table();
  ASSERT_TRUE(waitFor([&] { return table->model()->rowCount() == Form1->eventLog().size(); }));
  const EventLog& log = Form1->eventLog();
  ASSERT_GE(log.size(), 3);

  struct Case {
    int channel, kind;  // list entries
    QStringList events;
  };
  const Case cases[] = {
      {4, 0, {"Kanal 4 ausgelöst", "Überstrom Kanal 4", "Überstrom Kanal 4"}},
      {4, 1, {"Kanal 4 ausgelöst"}},
      {0, 2, {"Überstrom Kanal 4", "Überstrom Kanal 4"}},
      {1, 0, {}},
  };
  for (const Case& c : cases) {
    Events->chooseChannel(c.channel);
    Events->chooseKind(c.kind);
    QStringList shown;
    for (int row = 0; row < table->model()->rowCount(); ++row) {
      shown << table->model()->index(row, 1).data().toString();
    }
    EXPECT_EQ(shown, c.events) << c.channel << " " << c.kind;
  }
  if (log.at(0).kind == DeviceEvent::Kind::ConnectionLost) {
    Events->chooseChannel(0);
    Events->chooseKind(5);
    ASSERT_EQ(table->model()->rowCount(), 1);
    EXPECT_FALSE(table->model()->index(0, 1).data(Qt::ToolTipRole).isValid());
  }
  Events->chooseChannel(4);
  Events->chooseKind(1);
  ASSERT_EQ(table->model()->rowCount(), 1);
  EXPECT_EQ(table->model()->index(0, 0).data(Qt::ToolTipRole).toString(),
            "Kanal 1: 4,20 A\nKanal 2: 1,00 A\nKanal 3: 0,00 A\nKanal 4: 0,00 A\nUin: 23,81 V");
  EXPECT_TRUE(Events->findChild<QLabel*>("anzahl")->text().startsWith("1 von "));

  // The filters are reached with Tab, before the table and the export button.
  Events->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Events));
  QStringList reached;
  for (int i = 0; i < 5; ++i) {
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : Events,
                    Qt::Key_Tab);
    if (QApplication::focusWidget()) reached << QApplication::focusWidget()->objectName();
  }
  for (const char* name : {"kanal", "art", "liste", "exportieren"})
    EXPECT_TRUE(reached.contains(name)) << name;

  const qint64 moment = log.at(0).kind == DeviceEvent::Kind::Trip
                            ? log.at(0).time.toMSecsSinceEpoch()
                            : log.at(1).time.toMSecsSinceEpoch();
  table->setFocus();
  table->setCurrentIndex(table->model()->index(0, 0));
  QTest::keyClick(table, Qt::Key_Return);
  ASSERT_TRUE(Trend->isVisible());
  EXPECT_TRUE(Trend->plot()->paused());
  EXPECT_TRUE(control<QPushButton>(Trend, "anhalten")->isChecked());
  ASSERT_TRUE(Trend->plot()->cursorAt().has_value());
  EXPECT_EQ(*Trend->plot()->cursorAt(), moment);
  const qint64 t1 = Trend->plot()->viewEnd();
  EXPECT_TRUE(moment <= t1 && moment > t1 - Trend->plot()->span());
  // The cursor shows the values the history holds at that moment.
  const std::optional<TrendPoint> at = Trend->plot()->cursorPoint();
  ASSERT_TRUE(at.has_value());
  EXPECT_FLOAT_EQ(at->value[0], 42.0F);
  EXPECT_FLOAT_EQ(at->value[kTrendVoltage], 23.81F);
}

// The trend: the voltage on its own strip below the currents, marks labelled with their
// channel, dates where the span crosses midnight, and a cursor the arrow keys move.
TEST_F(Diagnosis, TrendSeparatesVoltageLabelsMarksAndHasACursor) {
  // Half a minute before local midnight.
  const QDateTime midnight(QDate(2026, 12, 11), QTime(0, 0));
  qint64 now = midnight.toMSecsSinceEpoch() - 30'000;
  Trend->setClock([&] { return now; });
  Trend->history().clear();
  StatusReading r;
  r.type = kType4ch10A;
  r.rated = {10, 10, 10, 10};
  for (int i = 0; i < 600; ++i, now += 100) {
    r.present = {uint16_t(i), 500, 0, 1000};
    r.uin = uint16_t(2300 + i % 200);
    Trend->addReading(r);
    if (i == 200) Trend->addEvent({QDateTime(), DeviceEvent::Kind::Warning, 3, true});
    if (i == 400) Trend->addEvent({QDateTime(), DeviceEvent::Kind::Trip, 1, true});
  }
  Form1->Verlauf1Click();
  Trend->chooseSpan(0);
  TrendPlot* plot = Trend->plot();
  const QRect currents = plot->plotArea(), volts = plot->voltageArea(), band = plot->markBand();
  EXPECT_GT(volts.top(), currents.bottom());
  EXPECT_FALSE(volts.intersects(currents));
  EXPECT_EQ(volts.left(), currents.left());
  EXPECT_EQ(volts.width(), currents.width());

  const std::vector<TrendPlot::DrawnMark> marks = plot->drawnMarks();
  ASSERT_EQ(marks.size(), 2u);
  for (const TrendPlot::DrawnMark& m : marks) {
    EXPECT_FALSE(m.label.isEmpty());
    EXPECT_TRUE(band.contains(m.label.center()));
  }
  EXPECT_EQ(marks[0].mark.channel, 3);
  EXPECT_FALSE(marks[0].mark.trip);
  EXPECT_EQ(marks[1].mark.channel, 1);

  // The minute crosses midnight: the first label and the first of the new day carry dates.
  QStringList dates;
  for (const TrendPlot::TimeLabel& l : plot->timeLabels()) {
    if (!l.date.isEmpty()) dates << l.date;
  }
  EXPECT_EQ(dates, (QStringList{"10.12.", "11.12."}));
  Form1->englischClick();
  dates.clear();
  for (const TrendPlot::TimeLabel& l : plot->timeLabels()) {
    if (!l.date.isEmpty()) dates << l.date;
  }
  EXPECT_EQ(dates, (QStringList{"10 Dec", "11 Dec"}));

  // The cursor: End puts it on the newest moment, Left moves it a column back; its values
  // are those of the history there.
  plot->setFocus();
  QTest::keyClick(plot, Qt::Key_End);
  ASSERT_TRUE(plot->cursorAt().has_value());
  const qint64 end = *plot->cursorAt();
  QTest::keyClick(plot, Qt::Key_Left);
  const qint64 column = plot->span() / plot->plotArea().width();
  EXPECT_EQ(*plot->cursorAt(), end - column);
  for (int i = 0; i < 9; ++i) QTest::keyClick(plot, Qt::Key_Left, Qt::ShiftModifier);
  EXPECT_EQ(*plot->cursorAt(), end - column - 90 * column);
  const std::optional<TrendPoint> p = plot->cursorPoint();
  const std::optional<TrendPoint> expected = Trend->history().pointAt(*plot->cursorAt());
  ASSERT_TRUE(p && expected);
  EXPECT_EQ(p->ms, expected->ms);
  EXPECT_EQ(p->value, expected->value);
  EXPECT_TRUE(plot->accessibleDescription().contains("cursor"))
      << plot->accessibleDescription().toStdString();
  // The pointer moves the cursor too.
  const QPointF middle(currents.left() + currents.width() / 2, currents.center().y());
  QMouseEvent move(QEvent::MouseMove, middle, plot->mapToGlobal(middle), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(plot, &move);
  ASSERT_TRUE(plot->cursorAt().has_value());
  EXPECT_NEAR(double(*plot->cursorAt()), double(plot->viewEnd() + 1 - plot->span() / 2),
              double(2 * column));
}

// The operating points at any load, in both languages: left of the axis they are listed
// beside the drawing; on the curve their labels cover neither each other nor the
// drawing's texts; a tripped channel keeps the load that tripped it.
TEST_F(Diagnosis, OperatingPointsReadAtAnyLoad) {
  struct Case {
    double load;
    bool tripped;
    const char *german, *english;  // channel 1's label
    double drawingX;               // -1: in the list beside the drawing
    const char* time;              // German
  };
  const Case cases[] = {
      {0.0, false, "1: 0,00 × I_N", "1: 0.00 × I_N", -1, ""},
      {0.3, false, "1: 0,30 × I_N", "1: 0.30 × I_N", -1, ""},
      {0.99, false, "1: 0,99 × I_N", "1: 0.99 × I_N", -1, ""},
      {1.0, false, "1: 1,00 × I_N", "1: 1.00 × I_N", 110, ""},
      {1.2, false, "1: 1,20 × I_N", "1: 1.20 × I_N", 180, ""},
      {1.62, true, "1: ausgelöst bei 1,62 × I_N", "1: tripped at 1.62 × I_N", 327, "0,316 s"},
      {4.0, false, "1: 4,00 × I_N", "1: 4.00 × I_N", 870, "0,01 s"},
  };
  Form1->Kennlinie1Click();
  const QRectF picture = Form2->findChild<SvgPicture*>("Image2")->pictureRect();
  const double scale = picture.width() / 903.0;
  for (const bool english : {false, true}) {
    english ? Form1->englischClick() : Form1->deutschClick();
    for (const Case& c : cases) {
      SCOPED_TRACE(std::to_string(c.load) + (english ? " en" : " de"));
      // The other channels crowd round the same load, so that their labels compete.
      StatusReading r;
      r.type = kType4ch10A;
      r.rated = {10, 10, 10, 10};
      for (int ch = 0; ch < 4; ++ch)
        r.present[ch] = uint16_t(std::lround((c.load + 0.01 * ch) * 1000));
      Form2->setLive(false);
      Form2->setLive(true);
      Form2->showLoads(r);
      if (c.tripped) {
        r.channelBits = 0x02;
        r.present[0] = 0;
        Form2->showLoads(r);
      }
      LoadMarker* m = Form2->marker(0);
      const QString label = QString::fromUtf8(english ? c.english : c.german);
      if (c.drawingX < 0) {
        EXPECT_FALSE(m->isVisible());
        ASSERT_FALSE(Form2->legend()->entries().empty());
        EXPECT_EQ(Form2->legend()->entries()[0].text, label);
        EXPECT_TRUE(Form2->legend()->isVisible());
      } else {
        ASSERT_TRUE(m->isVisible());
        EXPECT_EQ(m->label(), label);
        EXPECT_NEAR(m->lineX(), picture.left() + c.drawingX * scale, 0.6);
        QString time = QString::fromUtf8(c.time);
        if (english) time.replace(',', '.');
        EXPECT_EQ(m->timeText(), time);
      }
      // No label covers another, a text of the drawing or the list; all in the window.
      std::vector<QRect> labels;
      for (int ch = 0; ch < 4; ++ch) {
        LoadMarker* marker = Form2->marker(ch);
        if (!marker->isVisible()) continue;
        labels.push_back(marker->labelRect());
        if (!marker->timeRect().isEmpty()) labels.push_back(marker->timeRect());
      }
      if (Form2->legend()->isVisible()) labels.push_back(Form2->legend()->geometry());
      for (std::size_t i = 0; i < labels.size(); ++i) {
        EXPECT_TRUE(Form2->rect().contains(labels[i]));
        for (std::size_t j = i + 1; j < labels.size(); ++j) {
          EXPECT_FALSE(labels[i].intersects(labels[j])) << i << " " << j;
        }
        for (const QRect& text : Form2->drawingTexts())
          EXPECT_FALSE(labels[i].intersects(text)) << i;
      }
    }
  }
}

}  // namespace
}  // namespace zfuse
