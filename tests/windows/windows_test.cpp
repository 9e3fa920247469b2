// The info window and the trip-characteristic window, with the program started in-process.

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

#include "app/zokm32.h"
#include "tests/support/program_fixture.h"
#include "windowkit/modal.h"
#include "windowkit/svgpicture.h"
#include "windowkit/windowkit.h"
#include "windows/grafik.h"
#include "windows/information.h"
#include "zfuse_version.h"

namespace zfuse {
namespace {

class InfoWindow : public test::ProgramFixture {
 protected:
  void SetUp() override {
    ProgramFixture::SetUp();
    Modal::urlOpened = [this](const QUrl& url) { opened << url.toString(); };
  }
  void TearDown() override {
    Modal::urlOpened = nullptr;
    ProgramFixture::TearDown();
  }
  QLabel* line(const char* name) { return control<QLabel>(Info, name); }
  QStringList texts() {
    QStringList t;
    for (const QLabel* l : Info->findChildren<QLabel*>()) t << l->objectName() + "=" + l->text();
    return t << Info->windowTitle();
  }
  QStringList opened;
};

TEST_F(InfoWindow, OpensWithTheVersionAndReopensUnchanged) {
  EXPECT_FALSE(Info->isVisible());
  EXPECT_EQ(std::string(kVersion), "1.1.9");
  Form1->info1Click();
  EXPECT_TRUE(Info->isVisible());
  EXPECT_EQ(line("StaticText1")->text(), "Version 1.1.9");
  EXPECT_EQ(Info->windowTitle(), "Info...");
  EXPECT_EQ(Info->size(), QSize(729, 220));
  EXPECT_EQ(Info->pos(), QPoint(0, 21));
  EXPECT_TRUE(Form1->isEnabled());  // modeless: the main window goes on
  const QStringList before = texts();

  QTest::mouseClick(control<QPushButton>(Info, "Button1"), Qt::LeftButton);
  EXPECT_FALSE(Info->isVisible());
  Form1->info1Click();
  EXPECT_TRUE(Info->isVisible());
  EXPECT_EQ(Info->pos(), QPoint(0, 21));
  EXPECT_EQ(texts(), before);

  // The language switch leaves the window alone.
  Form1->englischClick();
  EXPECT_EQ(texts(), before);
}

TEST_F(InfoWindow, LinkLinesOpenMailAndWebOthersNothing) {
  Form1->info1Click();
  for (const char* name : {"StaticText2", "StaticText3", "StaticText4", "StaticText5",
                           "StaticText6", "StaticText1", "StaticText9"}) {
    QTest::mouseClick(line(name), Qt::LeftButton);
  }
  EXPECT_TRUE(opened.isEmpty());
  QTest::mouseClick(line("StaticText7"), Qt::LeftButton);
  QTest::mouseClick(line("StaticText8"), Qt::LeftButton);
  EXPECT_EQ(opened,
            (QStringList{"mailto:service@zokara.example.com", "http://www.zokara.example.com"}));
  // The labels show the addresses without a scheme, as links.
  EXPECT_EQ(line("StaticText7")->text(), "service@zokara.example.com");
  EXPECT_EQ(line("StaticText8")->text(), "www.zokara.example.com");
  for (const char* name : {"StaticText7", "StaticText8"}) {
    EXPECT_EQ(line(name)->cursor().shape(), Qt::PointingHandCursor) << name;
    EXPECT_TRUE(line(name)->font().underline()) << name;
    EXPECT_EQ(line(name)->palette().color(QPalette::WindowText), QColor(0, 102, 204)) << name;
  }
}

TEST_F(InfoWindow, PicturesAndEveryTextFitTheirBoxes) {
  Form1->info1Click();
  for (const char* name : {"Image1", "Image2"}) {
    auto* picture = control<SvgPicture>(Info, name);
    EXPECT_TRUE(picture->isValid()) << name;
    EXPECT_TRUE(picture->isVisible()) << name;
  }
  for (const char* name : {"Image3", "Image4"})
    EXPECT_FALSE(control<QWidget>(Info, name)->isVisible());
  EXPECT_EQ(control<QWidget>(Info, "Image1")->geometry(), QRect(0, -3, 505, 233));
  EXPECT_EQ(control<QWidget>(Info, "Image2")->geometry(), QRect(520, 8, 193, 33));
  for (const QLabel* l : Info->findChildren<QLabel*>()) {
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width())
        << l->objectName().toStdString();
  }
}

class CharacteristicWindow : public ::testing::TestWithParam<QRect> {
 protected:
  void TearDown() override {
    endProgram();
    setWorkAreaOverride(std::nullopt);
  }
};

TEST_P(CharacteristicWindow, CentredInTheWorkAreaNegativeKept) {
  const QRect area = GetParam();
  setWorkAreaOverride(area);
  startProgram();
  const QSize outer = Form2->frameGeometry().size();
  EXPECT_EQ(Form2->pos(),
            QPoint((area.width() - outer.width()) / 2, (area.height() - outer.height()) / 2));
  EXPECT_EQ(Form2->windowTitle(), "Auslösecharakteristik");
  EXPECT_EQ(Form2->size(), QSize(900, 535));
  EXPECT_FALSE(Form2->isVisible());
  auto* picture = Form2->findChild<SvgPicture*>("Image2");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->geometry(), QRect(0, 0, 897, 633));
  EXPECT_EQ(picture->pictureRect().topLeft(), QPointF(0, 0));
  EXPECT_NEAR(picture->pictureRect().width(), 897, 0.5);  // scaled to fit, aspect kept

  // Closing hides it; it comes back where it was.
  Form2->move(12, 34);
  Form2->show();
  Form2->close();
  EXPECT_FALSE(Form2->isVisible());
  Form2->show();
  EXPECT_EQ(Form2->pos(), QPoint(12, 34));
}

INSTANTIATE_TEST_SUITE_P(WorkAreas, CharacteristicWindow,
                         ::testing::Values(QRect(0, 0, 1920, 1040), QRect(0, 0, 1280, 984),
                                           QRect(0, 0, 800, 500), QRect(0, 0, 640, 480)));

// The drawing: valid, and its red staircase where the characteristic says, right way up.
TEST(CharacteristicDrawing, RedStaircaseAtTheExpectedPlaces) {
  QSvgRenderer renderer(QStringLiteral(":/pictures/characteristic.svg"));
  ASSERT_TRUE(renderer.isValid());
  EXPECT_EQ(renderer.defaultSize(), QSize(903, 573));
  for (const QSize size : {QSize(903, 573), QSize(304, 193)}) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    const double sx = size.width() / 903.0, sy = size.height() / 573.0;
    const auto red = [&](int x, int y) {
      const QColor c = image.pixelColor(static_cast<int>(x * sx), static_cast<int>(y * sy));
      return c.red() > 180 && c.green() < 90 && c.blue() < 90;
    };
    // Each level of the staircase, from 100 s at currents up to 1,2 down to 0,01 s.
    EXPECT_TRUE(red(145, 110)) << size.width();
    EXPECT_TRUE(red(230, 237)) << size.width();
    EXPECT_TRUE(red(340, 322)) << size.width();
    EXPECT_TRUE(red(510, 365)) << size.width();
    EXPECT_TRUE(red(750, 450)) << size.width();
    // Not upside down: no red at the high currents' top, none at the low currents' bottom.
    EXPECT_FALSE(red(750, 110)) << size.width();
    EXPECT_FALSE(red(145, 450)) << size.width();
  }
}

}  // namespace
}  // namespace zfuse
