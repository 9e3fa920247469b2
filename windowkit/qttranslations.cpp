#include "windowkit/qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace zfuse {

namespace {
// Owned by the application, so that it goes with it.
QPointer<QTranslator> german_qt;
bool installed = false;
}  // namespace

void useQtTranslations(bool german) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;
  if (!german_qt) {
    installed = false;
    auto* translator = new QTranslator(app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!translator->load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                          QStringLiteral("_"), folder)) {
      qWarning("No German translation of Qt's own texts in %s", qPrintable(folder));
    }
    german_qt = translator;
  }
  if (german == installed) return;
  if (german) {
    QCoreApplication::installTranslator(german_qt);
  } else {
    QCoreApplication::removeTranslator(german_qt);
  }
  installed = german;
}

}  // namespace zfuse
