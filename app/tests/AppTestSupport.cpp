#include "AppTestSupport.h"

#include "app/Startup.h"
#include "core/TypedImage.h"
#include "reconstruction/MarchingCubes.h"
#include "render/DisplayWidget.h"
#include "testsupport/OpenNI2Drivers.h"
#include "testsupport/Screenshots.h"
#include "testsupport/SyntheticScene.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkProxy>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace Veltrane {

Mesh coloredQuad()
{
    Mesh mesh;
    mesh.vertices() = {Mesh::Vector(0, 0, 0), Mesh::Vector(1, 0, 0), Mesh::Vector(1, 1, 0),
                       Mesh::Vector(0, 1, 0)};
    mesh.colors() = {Mesh::Vector(1, 0, 0), Mesh::Vector(0, 1, 0), Mesh::Vector(0, 0, 1),
                     Mesh::Vector(1, 1, 1)};
    mesh.faces() = {Mesh::Triple(0, 1, 2), Mesh::Triple(0, 2, 3)};
    mesh.colorIndices() = mesh.faces();
    return mesh;
}

Mesh* tabletopMesh()
{
    const TestSupport::SyntheticScene scene = TestSupport::SyntheticScene::objectsOnTable();
    constexpr double voxel = 5.0;
    const Eigen::Vector3d corner(-360.0, -110.0, -330.0);
    const int size[3] = {145, 63, 133};
    TypedImage<float> distance(PixelType::Float, size[0], size[1], size[2], 1);
    TypedImage<unsigned char> colours(PixelType::UnsignedByte, size[0], size[1], size[2], 4);
    distance.spacing = {voxel, voxel, voxel};
    colours.fill(0);
    const auto gradient = [&scene](const Eigen::Vector3d& p) {
        Eigen::Vector3d g;
        for (int axis = 0; axis < 3; ++axis) {
            const Eigen::Vector3d step = Eigen::Vector3d::Unit(axis);
            g[axis] = scene.signedDistance(p + step) - scene.signedDistance(p - step);
        }
        return g.normalized();
    };
    std::size_t index = 0;
    for (int k = 0; k < size[2]; ++k) {
        for (int j = 0; j < size[1]; ++j) {
            for (int i = 0; i < size[0]; ++i, ++index) {
                const Eigen::Vector3d p = corner + voxel * Eigen::Vector3d(i, j, k);
                const double d = scene.signedDistance(p);
                distance.typedData()[index] = static_cast<float>(d / voxel);
                if (std::abs(d) > 2.0 * voxel)
                    continue;
                // The surface nearest to the voxel, seen from just outside it.
                const Eigen::Vector3d outward = gradient(p);
                const auto hit = scene.intersect(p + 3.0 * voxel * outward, -outward);
                if (!hit)
                    continue;
                unsigned char* rgbw = colours.typedData() + 4 * index;
                rgbw[0] = hit->colour.r;
                rgbw[1] = hit->colour.g;
                rgbw[2] = hit->colour.b;
                rgbw[3] = 255;
            }
        }
    }
    std::unique_ptr<Mesh> mesh = marchingCubes(distance, &colours, 0.0f);
    mesh->computeNormals();
    return mesh.release();
}

std::vector<unsigned char> readFileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

int runInTestApplication(int argc, char** argv, const std::function<int()>& run)
{
    // The main window starts the real OpenNI 2, which finds no camera here.
    pinOpenNI2Drivers();

    QApplication application(argc, argv);
    QApplication::setOrganizationName(StartupNames::organisation);
    QApplication::setApplicationName(StartupNames::application);
    applyStyleSheet(application);

    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid())
        return 1;
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settingsFolder.filePath("user"));
        QSettings::setPath(format, QSettings::SystemScope, settingsFolder.filePath("system"));
    }
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    return run();
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    return QTest::qWaitFor(condition, timeoutMs);
}

void handleEventsFor(int milliseconds)
{
    QTest::qWait(milliseconds);
}

MessageBoxLog::MessageBoxLog(const QString& screenshotName, QMessageBox::StandardButton answer)
{
    m_previous = MessageBoxes::setRunner([this, screenshotName, answer](QMessageBox& box) {
        if (m_boxes.empty() && !screenshotName.isEmpty()) {
            box.show();
            if (!QTest::qWaitForWindowExposed(&box)) {
                ADD_FAILURE() << "message box not shown";
            }
            saveScreenshot(box, screenshotName);
        }
        m_boxes.push_back({box.icon(), box.windowTitle(), box.text(), box.textFormat()});
        return static_cast<int>(answer);
    });
}

MessageBoxLog::~MessageBoxLog()
{
    MessageBoxes::setRunner(m_previous);
}

FileDialogAnswers::FileDialogAnswers(std::vector<Answer> answers)
    : m_answers(answers.begin(), answers.end())
{
    QObject::connect(&m_timer, &QTimer::timeout, [this] { answerModalDialog(); });
    m_timer.start(10);
}

void FileDialogAnswers::answerModalDialog()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* replace = qobject_cast<QMessageBox*>(modal)) {
        if (QAbstractButton* yes = replace->button(QMessageBox::Yes))
            yes->click();
        return;
    }
    auto* dialog = qobject_cast<QFileDialog*>(modal);
    if (!dialog || !dialog->isVisible())
        return;
    Answer answer;  // none left: cancel
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    m_openedIn.append(dialog->directory().absolutePath());
    if (answer.path.isEmpty()) {
        dialog->reject();
        return;
    }
    if (!answer.filter.isEmpty())
        dialog->selectNameFilter(answer.filter);
    dialog->selectFile(answer.path);
    // The dialog leaves the name field alone while it has the focus: type
    // the name there, as a user would.
    if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
        name->setText(answer.path);
    static_cast<QDialog*>(dialog)->accept();  // the file dialog checks the name first
}

EnvironmentSetting::EnvironmentSetting(const char* name, const QByteArray& value)
    : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
{
    qputenv(name, value);
}

EnvironmentSetting::~EnvironmentSetting()
{
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

QPixmap windowPicture(QWidget& window)
{
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    for (DisplayWidget* display : window.findChildren<DisplayWidget*>())
        if (display->isVisible())
            painter.drawImage(display->mapTo(&window, QPoint(0, 0)), display->picture());
    return picture;
}

bool saveWindowScreenshot(QWidget& window, const QString& name)
{
    return windowPicture(window).save(QString::fromStdString(screenshotPath(name.toStdString())));
}

bool saveScreenshotWithDialog(QWidget& window, QWidget& dialog, const QString& name)
{
    QPixmap picture = windowPicture(window);
    QPainter painter(&picture);
    painter.drawPixmap(dialog.geometry().topLeft() - window.geometry().topLeft(), dialog.grab());
    painter.end();
    return picture.save(QString::fromStdString(screenshotPath(name.toStdString())));
}

}  // namespace Veltrane
