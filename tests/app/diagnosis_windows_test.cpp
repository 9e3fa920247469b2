// The diagnosis from the main window: recording from the menu, the event log window, the
// trend window and the operating points on the trip characteristic, with the program
// started in-process against the simulated fuse.

#include <sys/resource.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <csignal>

#include "app/languages.h"
#include "app/zokm32.h"
#include "dialogs/parameter2.h"
#include "tests/support/filesize_limit.h"
#include "tests/support/mnemonics.h"
#include "tests/support/program_fixture.h"
#include "windowkit/modal.h"
#include "windowkit/svgpicture.h"
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
  }
  void TearDown() override {
    Modal::fileAnswer = nullptr;
    Modal::errorSeen = nullptr;
    ProgramFixture::TearDown();
  }
  QAction* action(const char* name) { return control<QAction>(Form1, name); }
  QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  // The third cell of every row: "model" for the header, the model or "gap".
  QStringList rowKinds(const QString& file) {
    QStringList kinds;
    for (const QByteArray& row : contentOf(file).split('\n')) {
      if (!row.isEmpty()) kinds << QString::fromUtf8(row.split(',').value(2));
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
  EXPECT_TRUE(csv.startsWith("time,port,event,channel,on\r\n"));
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
      {500, 110, ""},   // 0,5 × I_N: held at the start of the axis
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
  ASSERT_TRUE(waitFor([] { return Form2->marker(0)->isVisible(); }));
  for (int ch = 0; ch < 4; ++ch) EXPECT_TRUE(Form2->marker(ch)->isVisible()) << ch;
  device->setFaults(sim::kSilence);
  ASSERT_TRUE(waitFor([] { return !Form2->marker(0)->isVisible(); }, 4000));
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

}  // namespace
}  // namespace zfuse
