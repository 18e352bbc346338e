// The Korvastel program: the OpenMP wait policy, one copy at a time,
// logging, settings, translation and style, then the main window until it is
// closed.

#include "app/MainWindow.h"
#include "app/Startup.h"

#include "core/Logging.h"
#include "platform/OpenMpWaitPolicy.h"
#include "platform/SingleInstance.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char** argv)
{
    // May start the program again in place: before anything else happens.
    Veltrane::chooseOpenMpWaitPolicy(argv);
    using namespace Veltrane;

    // Held until the process ends. A copy that is still starting has no
    // socket yet; the new copy then starts as well.
    SingleInstance instance(StartupNames::singleInstance);
    if (!instance.acquire() && instance.activateRunning())
        return 0;

    configureStartupLogging();
    int result = 0;
    {
        QApplication application(argc, argv);
        QCoreApplication::setOrganizationName(StartupNames::organisation);
        QCoreApplication::setApplicationName(StartupNames::application);

        QTranslator translator;
        installTranslation(translator, machineLanguage());
        applyStyleSheet(application);

        MainWindow window;
        window.show();
        instance.listen([&window] { bringToFront(window); });

        result = application.exec();
    }
    shutdownLogging();
    return result;
}
