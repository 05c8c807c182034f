#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace orvane::ui {

QTranslator* InstallToolkitTranslations() {
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return nullptr;
  }
  return translator;
}

}  // namespace orvane::ui
