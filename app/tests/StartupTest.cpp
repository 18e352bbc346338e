#include "app/Startup.h"

#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPushButton>
#include <QSettings>
#include <QTranslator>

namespace Veltrane {
namespace {

/// Sets (or, for a null value, removes) the machine-wide language setting.
void setMachineLanguage(const QString& language)
{
    QSettings settings(QSettings::SystemScope, StartupNames::organisation,
                       StartupNames::application);
    if (language.isNull())
        settings.remove("language");
    else
        settings.setValue("language", language);
}

struct LanguageCase {
    const char* name;
    const char* language;  // null: not set
    bool german;
};

class Translation : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(Translation, IsGermanOnlyForExactlyDeDe)
{
    const LanguageCase& c = GetParam();
    setMachineLanguage(c.language ? QString(c.language) : QString());

    QTranslator translator;
    EXPECT_EQ(installTranslation(translator, machineLanguage()), c.german);
    const QString start = QCoreApplication::translate("MainWindow", "Start reconstruction");
    const QString error = QCoreApplication::translate("Veltrane::MainWindow", "Error");
    QCoreApplication::removeTranslator(&translator);

    EXPECT_EQ(start, c.german ? "Rekonstruktion starten" : "Start reconstruction");
    EXPECT_EQ(error, c.german ? "Fehler" : "Error");
}

INSTANTIATE_TEST_SUITE_P(
    Languages, Translation,
    ::testing::Values(LanguageCase{"Exact", "de-de", true}, LanguageCase{"Capitals", "DE-DE", false},
                      LanguageCase{"CapitalRegion", "de-DE", false},
                      LanguageCase{"LanguageOnly", "de", false},
                      LanguageCase{"TrailingBlank", "de-de ", false},
                      LanguageCase{"English", "en-us", false}, LanguageCase{"Empty", "", false},
                      LanguageCase{"Unset", nullptr, false}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.name); });

TEST(Translation, BringsTheWindowUpInGerman)
{
    QTranslator translator;
    ASSERT_TRUE(installTranslation(translator, StartupNames::german));
    MessageBoxLog answers;
    {
        MainWindow window;
        EXPECT_EQ(window.windowTitle(), "Korvastel");
        EXPECT_EQ(window.findChild<QPushButton*>("pushButtonStartReconstruction")->text(),
                  "Rekonstruktion starten");
        EXPECT_EQ(window.findChild<QPushButton*>("pushButtonFinish")->text(), "Fertig");
    }
    QCoreApplication::removeTranslator(&translator);
}

}  // namespace
}  // namespace Veltrane
