#pragma once

#include <QString>

class QApplication;
class QTranslator;
class QWidget;

namespace Veltrane {

/// Names the start-up fixes.
namespace StartupNames {
/// Names the lock and the socket that keep a second copy from running.
constexpr char singleInstance[] = "VeltraneKorvastelMutex";
constexpr char organisation[] = "Veltrane";
constexpr char application[] = "Korvastel";
/// The only value of the machine-wide "language" setting that selects German.
constexpr char german[] = "de-de";
}  // namespace StartupNames

/// Logs with the pattern "%d %-5p - %m%n" to the console and, when the
/// user's application data folder is known, appends to
/// "Veltrane/Korvastel/Korvastel.log" in it (its folders are made when
/// missing); without that folder the log goes to the console only.
void configureStartupLogging();

/// The machine-wide setting "language" (the system-scope settings of the
/// organisation and application); empty when it is not set.
QString machineLanguage();

/// Loads the German translation ":/German.qm" into `translator` and installs
/// it when `language` is exactly "de-de"; any other value leaves the program
/// in English. True when the translation was installed. A translation that
/// loads but cannot be installed is logged.
bool installTranslation(QTranslator& translator, const QString& language);

/// Gives the application the style sheet ":/Design.qss"; without it the
/// default style stays.
void applyStyleSheet(QApplication& application);

/// Brings `window` to the front, restoring it when it is minimised, because
/// another start of the program asked for it.
void bringToFront(QWidget& window);

}  // namespace Veltrane
