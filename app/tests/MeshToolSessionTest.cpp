#include "AppTestSupport.h"
#include "MainWindowProbe.h"

#include "app/CleanMeshWidget.h"
#include "core/Mesh.h"
#include "render/DisplayWidget.h"
#include "render/FancyMeshManipulator.h"
#include "render/GlBoundingBox.h"
#include "render/GlMesh.h"
#include "render/GlMeshView.h"
#include "testsupport/GlPointer.h"
#include "testsupport/PlyFile.h"
#include "testsupport/Screenshots.h"

#include <gtest/gtest.h>

#include <Eigen/Geometry>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>

namespace Veltrane {
namespace {

using V = Mesh::Vector;
using T = Mesh::Triple;

const QString plyFilter = "Stanford polygon file format (*.ply)";
const QString objFilter = "Alias Wavefront Object (*.obj)";
const QString stlFilter = "STL file format (no color)(*.stl)";

Eigen::Matrix4d asEigen(const GlMatrix& matrix)
{
    return Eigen::Map<const Eigen::Matrix4d>(matrix.data());
}

/// Appends the quad a, b, c, d (counter-clockwise seen from +z) as two faces.
void addQuad(Mesh& mesh, const V& a, const V& b, const V& c, const V& d)
{
    const int first = static_cast<int>(mesh.vertices().size());
    mesh.vertices().insert(mesh.vertices().end(), {a, b, c, d});
    mesh.faces().push_back(T(first, first + 1, first + 2));
    mesh.faces().push_back(T(first, first + 2, first + 3));
}

/// Gives every vertex a colour and a normal, as a generated mesh has them.
Mesh* finished(Mesh* mesh)
{
    for (const V& v : mesh->vertices())
        mesh->colors().push_back(V(v.x() / 220.0, v.y() / 100.0, 0.5));
    mesh->colorIndices() = mesh->faces();
    mesh->computeNormals();
    return mesh;
}

/// A sliver: three points on a line, a face without area.
void addSliver(Mesh& mesh)
{
    const int first = static_cast<int>(mesh.vertices().size());
    mesh.vertices().insert(mesh.vertices().end(), {V(200, 0, 0), V(210, 0, 0), V(220, 0, 0)});
    mesh.faces().push_back(T(first, first + 1, first + 2));
}

/// Three pieces: a 10 x 10 grid of 10 mm squares in the plane z = 0 (200
/// faces, 10,000 mm²), a 20 mm square of two faces at z = 20 (400 mm²) beside
/// it, and a sliver of no area.
Mesh* threePieces()
{
    auto* mesh = new Mesh;
    auto& vertices = mesh->vertices();
    for (int y = 0; y <= 10; ++y)
        for (int x = 0; x <= 10; ++x)
            vertices.push_back(V(10.0 * x, 10.0 * y, 0.0));
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const int a = y * 11 + x;
            mesh->faces().push_back(T(a, a + 1, a + 12));
            mesh->faces().push_back(T(a, a + 12, a + 11));
        }
    }
    addQuad(*mesh, V(150, 0, 20), V(170, 0, 20), V(170, 20, 20), V(150, 20, 20));
    addSliver(*mesh);
    return finished(mesh);
}

/// A sliver alone: no piece has any area.
Mesh* sliverOnly()
{
    auto* mesh = new Mesh;
    addSliver(*mesh);
    return finished(mesh);
}

/// A file in a folder where no file can be made, whoever runs the tests.
QString unwritablePath()
{
    return "/proc/korvastel-scan.ply";
}

std::size_t countTitled(const MessageBoxLog& log, const QString& title)
{
    return std::count_if(log.boxes().begin(), log.boxes().end(),
                         [&](const MessageBoxLog::Box& box) { return box.title == title; });
}

/// The real window in mesh mode with a mesh handed over as a scan hands it
/// over. Message boxes are answered No unless a test says otherwise.
class MeshTools : public ::testing::Test {
protected:
    void SetUp() override
    {
        answerBoxesWith(QMessageBox::No);
        openWindow(threePieces());
    }

    void TearDown() override
    {
        window.reset();
        answers.reset();
    }

    void answerBoxesWith(QMessageBox::StandardButton answer)
    {
        answers.reset();
        answers = std::make_unique<MessageBoxLog>(QString(), answer);
    }

    /// A new window in mesh mode with `generated`.
    void openWindow(Mesh* generated)
    {
        window.reset();
        window = std::make_unique<MainWindow>();
        window->resize(1236, 768);
        window->show();
        ASSERT_TRUE(waitUntil([&] { return MainWindowProbe::captureStarted(*window); }, 20000));
        MainWindowProbe::enterMeshMode(*window, generated);
        view = MainWindowProbe::meshGlView(*window);
    }

    template <typename W = QWidget>
    W* child(const char* name)
    {
        W* found = window->findChild<W*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void click(const char* name) { child<QAbstractButton>(name)->click(); }

    /// Draws the window's display now: the views capture where things show.
    DisplayWidget& paintedDisplay()
    {
        auto* display = child<DisplayWidget>("displayWidget");
        display->updateGL();
        pointer.setWidget(display);
        return *display;
    }
    /// Where a point of the mesh's space shows in the display widget
    /// (window coordinates, rounded to the pixel).
    QPoint at(const V& point) const
    {
        V window;
        EXPECT_TRUE(view->viewState().project(point.data(), window.data()));
        return QPoint(static_cast<int>(std::lround(window.x())), static_cast<int>(std::lround(window.y())));
    }
    /// Where the camera of the mesh view is, in the mesh's space.
    V eye() const
    {
        return asEigen(view->viewState().modelview).inverse().col(3).head<3>();
    }
    Mesh* current() { return MainWindowProbe::mesh(*window); }
    int mode() { return MainWindowProbe::uiMode(*window); }
    std::size_t faces() { return current() ? current()->faces().size() : 0; }

    /// One smoothing step through the smooth panel; the new current mesh.
    Mesh* smooth()
    {
        child<QSpinBox>("spinBoxIterations")->setValue(1);
        click("pushButtonSmooth");
        return current();
    }

    /// Saves through the Save button and a file dialog answered with `path`
    /// (empty: cancelled) and `filter`.
    void save(const QString& path, const QString& filter = plyFilter)
    {
        FileDialogAnswers files({{path, filter}});
        click("pushButtonSaveMesh");
        EXPECT_EQ(files.pending(), 0u) << "the file dialog was not opened";
    }

    /// The history holds `undo` and `redo` front first, `shown` is current and
    /// drawn, and the buttons say what can be done.
    void expectHistory(Mesh* shown, const std::deque<Mesh*>& undo, const std::deque<Mesh*>& redo)
    {
        EXPECT_EQ(current(), shown);
        EXPECT_EQ(view->mesh->mesh, shown);
        EXPECT_EQ(MainWindowProbe::undoStack(*window), undo);
        EXPECT_EQ(MainWindowProbe::redoStack(*window), redo);
        EXPECT_EQ(child("pushButtonMeshUndo")->isEnabled(), !undo.empty());
        EXPECT_EQ(child("pushButtonMeshReset")->isEnabled(), !undo.empty());
        EXPECT_EQ(child("pushButtonMeshRedo")->isEnabled(), !redo.empty());
    }

    std::unique_ptr<MessageBoxLog> answers;
    std::unique_ptr<MainWindow> window;
    GlMeshView* view = nullptr;  ///< the window's mesh view
    GlPointer pointer;           ///< on the window's display widget
};

TEST_F(MeshTools, UndoAndRedoCarryMeshesBetweenTheHistories)
{
    Mesh* const generated = current();
    expectHistory(generated, {}, {});

    Mesh* const first = smooth();
    Mesh* const second = smooth();
    Mesh* const third = smooth();
    ASSERT_NE(first, generated);
    ASSERT_NE(second, first);
    ASSERT_NE(third, second);
    expectHistory(third, {second, first, generated}, {});

    click("pushButtonMeshUndo");
    expectHistory(second, {first, generated}, {third});
    click("pushButtonMeshUndo");
    expectHistory(first, {generated}, {second, third});
    click("pushButtonMeshRedo");
    expectHistory(second, {first, generated}, {third});
    click("pushButtonMeshUndo");
    expectHistory(first, {generated}, {second, third});

    // A new result ends what could be redone.
    Mesh* const fourth = smooth();
    expectHistory(fourth, {first, generated}, {});

    click("pushButtonMeshUndo");
    click("pushButtonMeshUndo");
    expectHistory(generated, {}, {first, fourth});
    click("pushButtonMeshRedo");
    expectHistory(first, {generated}, {fourth});

    smooth();
    smooth();
    click("pushButtonMeshReset");
    expectHistory(generated, {}, {});
    EXPECT_EQ(faces(), 203u);
}

TEST_F(MeshTools, AToolThatLeavesNoMeshKeepsTheMeshAndTheHistory)
{
    Mesh* const generated = current();
    Mesh* const edited = smooth();
    const QString nothingLeft = "Nothing of the mesh would be left. It was kept as it was.";
    const QString failed = "The mesh could not be processed. It was kept as it was.";

    struct Case {
        const char* name;
        std::function<void()> apply;
        QString text;
    };
    const Case cases[] = {
        {"crop box beside the mesh",
         [&] {
             click("toolButtonMeshCrop");
             GlMatrix aside = identityGlMatrix();
             aside[12] = 1000.0;
             view->cropBox->setMatrix(aside);
             click("pushButtonCrop");
             click("toolButtonMeshCrop");
         },
         nothingLeft},
        {"clean bounds that keep no piece",
         [&] {
             click("toolButtonMeshClean");
             child<QSlider>("sliderMax")->setValue(0);
             click("pushButtonClean");
             click("toolButtonMeshClean");
         },
         nothingLeft},
        {"a failed operation",
         [&] { EXPECT_FALSE(MainWindowProbe::replaceMesh(*window, nullptr)); },
         failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t boxes = answers->boxes().size();
        c.apply();
        expectHistory(edited, {generated}, {});
        ASSERT_EQ(answers->boxes().size(), boxes + 1);
        EXPECT_EQ(answers->boxes().back().title, "Mesh");
        EXPECT_EQ(answers->boxes().back().text, c.text);
        EXPECT_EQ(answers->boxes().back().icon, QMessageBox::Warning);
    }
}

TEST_F(MeshTools, DecimateRangeIsTheFaceCountBeforeAndAfterDecimating)
{
    auto* spinBox = child<QSpinBox>("spinBoxTriangles");
    auto* slider = child<QSlider>("sliderTriangles");
    auto* percent = child<QLabel>("labelPercent");
    auto expectRange = [&](int count) {
        EXPECT_EQ(spinBox->minimum(), 1);
        EXPECT_EQ(spinBox->maximum(), count);
        EXPECT_EQ(slider->minimum(), 1);
        EXPECT_EQ(slider->maximum(), count);
        EXPECT_EQ(spinBox->value(), count);
        EXPECT_EQ(slider->value(), count);
        EXPECT_EQ(percent->text(), "100 %");
    };

    click("toolButtonMeshDecimate");
    EXPECT_TRUE(child("decimateMeshWidget")->isVisible());
    expectRange(203);

    spinBox->setValue(80);
    EXPECT_EQ(percent->text(), "39 %");
    click("pushButtonDecimate");
    const int decimated = static_cast<int>(faces());
    EXPECT_LE(decimated, 80);
    EXPECT_GT(decimated, 0);
    expectRange(decimated);
    EXPECT_TRUE(child<QAbstractButton>("toolButtonMeshDecimate")->isChecked()) << "stays open";
}

TEST_F(MeshTools, CleanPreviewsThePiecesAndRemovesThoseOutsideTheBounds)
{
    auto* sliderMin = child<QSlider>("sliderMin");
    auto* sliderMax = child<QSlider>("sliderMax");
    auto* minLabel = child<QLabel>("labelMinArea");
    auto* maxLabel = child<QLabel>("labelMaxArea");

    click("toolButtonMeshClean");
    EXPECT_EQ(MainWindowProbe::componentAreas(*window), (std::vector<float>{0.0f, 400.0f, 10000.0f}));
    Mesh* preview = MainWindowProbe::cleanPreviewMesh(*window);
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(view->mesh->mesh, preview);
    EXPECT_TRUE(view->cleanPreview);
    EXPECT_EQ(sliderMin->maximum(), 2);
    EXPECT_EQ(sliderMax->maximum(), 2);
    EXPECT_EQ(sliderMin->value(), 0);
    EXPECT_EQ(sliderMax->value(), 2);
    EXPECT_EQ(minLabel->text(), QString::fromUtf8("0.00 mm²"));
    EXPECT_EQ(maxLabel->text(), QString::fromUtf8("100.00 cm²"));
    EXPECT_EQ(view->minConnected, 0.0f);
    EXPECT_EQ(view->maxConnected, 1.0f);

    sliderMin->setValue(1);
    EXPECT_EQ(minLabel->text(), QString::fromUtf8("4.00 cm²"));
    EXPECT_FLOAT_EQ(view->minConnected, 0.04f);
    sliderMin->setValue(0);

    // With the bounds at their ends only the piece without area goes.
    click("pushButtonClean");
    EXPECT_EQ(faces(), 202u);
    EXPECT_EQ(MainWindowProbe::undoStack(*window).size(), 1u);
    EXPECT_NE(MainWindowProbe::cleanPreviewMesh(*window), nullptr) << "the preview of the result";
    EXPECT_EQ(sliderMax->value(), 2);

    sliderMin->setValue(1);
    click("pushButtonClean");
    EXPECT_EQ(faces(), 200u) << "the square of exactly the lower bound goes too";

    click("toolButtonMeshSmooth");
    EXPECT_EQ(MainWindowProbe::cleanPreviewMesh(*window), nullptr);
    EXPECT_FALSE(view->cleanPreview);
    EXPECT_EQ(view->mesh->mesh, current());
    EXPECT_FALSE(child("cleanMeshWidget")->isVisible());
    EXPECT_TRUE(child("smoothMeshWidget")->isVisible());
}

TEST_F(MeshTools, CleanPreviewOfPiecesWithoutAreaHasFiniteBounds)
{
    openWindow(sliverOnly());
    click("toolButtonMeshClean");
    EXPECT_EQ(MainWindowProbe::componentAreas(*window), std::vector<float>{0.0f});
    EXPECT_EQ(view->minConnected, 0.0f);
    EXPECT_EQ(view->maxConnected, 0.0f);
    EXPECT_EQ(child<QLabel>("labelMaxArea")->text(), QString::fromUtf8("0.00 mm²"));
}

TEST_F(MeshTools, CropBoxStartsAroundTheWholeMeshEachTimeAndCutsItsContents)
{
    auto* translate = child<QAbstractButton>("translateButton");
    auto expectBoxAroundMesh = [&] {
        EXPECT_TRUE(view->cropMode);
        EXPECT_EQ(view->cropBox->center(), (GlVector{110.0, 50.0, 10.0}));
        EXPECT_EQ(view->cropBox->extent(), (GlVector{220.0, 100.0, 20.0}));
        EXPECT_EQ(view->cropBox->matrix(), identityGlMatrix());
        EXPECT_EQ(view->cropBox->color(), (GlColor{1.0, 1.0, 1.0}));
        EXPECT_TRUE(translate->isChecked());
    };

    click("toolButtonMeshCrop");
    expectBoxAroundMesh();
    click("rotateButton");
    GlMatrix moved = identityGlMatrix();
    moved[0] = 0.5;
    moved[12] = 30.0;
    view->cropBox->setMatrix(moved);
    click("toolButtonMeshCrop");
    EXPECT_FALSE(view->cropMode);
    click("toolButtonMeshCrop");
    expectBoxAroundMesh();

    // The box moved 60 mm toward -x keeps the grid, cuts the square at
    // x = 160 and leaves the sliver out.
    GlMatrix left = identityGlMatrix();
    left[12] = -60.0;
    view->cropBox->setMatrix(left);
    click("pushButtonCrop");
    ASSERT_EQ(MainWindowProbe::undoStack(*window).size(), 1u);
    double largestX = 0.0;
    for (const V& v : current()->vertices())
        largestX = std::max(largestX, v.x());
    EXPECT_NEAR(largestX, 160.0, 1e-6);
    EXPECT_EQ(faces(), 203u) << "the grid, and the square's two faces cut to three";
    EXPECT_TRUE(view->cropMode) << "the tool stays open";
}

TEST_F(MeshTools, AlignKeepsTheShownRotationOnlyWhenApplied)
{
    const std::vector<V> before = current()->vertices();
    GlMatrix quarterTurn = identityGlMatrix();  // 90 degrees about z
    quarterTurn[0] = 0.0;
    quarterTurn[1] = 1.0;
    quarterTurn[4] = -1.0;
    quarterTurn[5] = 0.0;

    click("toolButtonMeshAlign");
    EXPECT_TRUE(child("alignMeshWidget")->isVisible());
    view->mesh->setMatrix(quarterTurn);
    click("toolButtonMeshSmooth");
    EXPECT_EQ(view->mesh->matrix(), identityGlMatrix()) << "closed without Align";
    EXPECT_EQ(current()->vertices(), before);

    click("toolButtonMeshAlign");
    view->mesh->setMatrix(quarterTurn);
    child("alignMeshWidget")->findChild<QPushButton*>()->click();
    EXPECT_EQ(view->mesh->matrix(), identityGlMatrix());
    ASSERT_EQ(current()->vertices().size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(current()->vertices()[i].isApprox(V(-before[i].y(), before[i].x(), before[i].z()), 1e-9))
            << i;
    EXPECT_EQ(MainWindowProbe::undoStack(*window).size(), 1u);
}

TEST_F(MeshTools, DraggingTheCropBoxScaleHandleResizesTheBoxThatCutsTheMesh)
{
    click("toolButtonMeshCrop");
    click("scaleButton");
    FancyMeshManipulator* handles = MainWindowProbe::cropManipulator(*window);
    ASSERT_NE(handles, nullptr);
    EXPECT_EQ(handles->handleSet, ManipulatorHandleSet::Scale);
    paintedDisplay();

    // The box of 220 x 100 x 20 mm has handles 44 mm long; its x scale
    // handle reaches 53 mm from the centre. Dragged toward -x, it narrows the
    // box about its centre.
    const V centre(110.0, 50.0, 10.0);
    const QPoint grab = at(centre + V(40.0, 0.0, 0.0));
    const QPoint inward = at(centre) - grab;
    pointer.drag(Qt::LeftButton, grab, grab + inward * 300 / inward.manhattanLength(), 6);
    EXPECT_EQ(handles->dragMode(), ManipulatorDragMode::None);
    const Eigen::Matrix4d box = asEigen(view->cropBox->matrix());
    const double scale = box(0, 0);
    EXPECT_LT(scale, 0.9);
    EXPECT_GT(scale, 0.55) << "the square at x = 150 ... 170 stays inside";
    EXPECT_DOUBLE_EQ(box(1, 1), 1.0);
    EXPECT_DOUBLE_EQ(box(2, 2), 1.0);
    EXPECT_TRUE((box * centre.homogeneous()).head<3>().isApprox(centre, 1e-9)) << "about the centre";

    click("pushButtonCrop");
    ASSERT_EQ(MainWindowProbe::undoStack(*window).size(), 1u);
    double smallestX = 1e9;
    double largestX = -1e9;
    for (const V& v : current()->vertices()) {
        smallestX = std::min(smallestX, v.x());
        largestX = std::max(largestX, v.x());
    }
    EXPECT_NEAR(smallestX, 110.0 - 110.0 * scale, 1e-6) << "the grid is cut where the box now ends";
    EXPECT_NEAR(largestX, 170.0, 1e-6) << "the sliver beyond x = 200 is gone";
}

TEST_F(MeshTools, TurningAnAlignRingTurnsTheMeshWhenApplied)
{
    const std::vector<V> before = current()->vertices();
    click("toolButtonMeshAlign");
    FancyMeshManipulator* rings = MainWindowProbe::alignManipulator(*window);
    ASSERT_NE(rings, nullptr);
    EXPECT_EQ(rings->handleSet, ManipulatorHandleSet::Rotate);
    paintedDisplay();

    // The camera starts straight in front of the mesh, which shows the ring
    // about z edge on: a drag beside the rings tilts it first.
    const V centre(110.0, 50.0, 10.0);
    const QPoint beside = at(centre) + QPoint(0, 260);
    pointer.drag(Qt::LeftButton, beside, beside - QPoint(0, 250), 5);
    EXPECT_EQ(view->mesh->matrix(), identityGlMatrix()) << "the camera moved, not the mesh";
    paintedDisplay();

    // A point of the z ring (radius 44 mm) on the half facing the viewer,
    // half-way between the x and the y ring, a quarter turn round the centre.
    const V toEye = eye() - centre;
    const V onRing = centre + 44.0 * V(std::copysign(1.0, toEye.x()), std::copysign(1.0, toEye.y()), 0.0).normalized();
    const QPoint from = at(onRing);
    const Eigen::Vector2d middle(at(centre).x(), at(centre).y());
    const Eigen::Vector2d start = Eigen::Vector2d(from.x(), from.y()) - middle;
    pointer.press(Qt::LeftButton, from);
    ASSERT_EQ(rings->dragMode(), ManipulatorDragMode::RotateZ);
    QPoint last = from;
    for (int step = 1; step <= 6; ++step) {
        const Eigen::Vector2d turned = Eigen::Rotation2Dd(M_PI / 2 * step / 6) * start + middle;
        last = QPoint(static_cast<int>(std::lround(turned.x())), static_cast<int>(std::lround(turned.y())));
        pointer.move(last);
    }
    pointer.release(Qt::LeftButton, last);

    const Eigen::Matrix4d shown = asEigen(view->mesh->matrix());
    const Eigen::AngleAxisd turn(Eigen::Matrix3d(shown.topLeftCorner(3, 3)));
    EXPECT_NEAR(turn.angle() * 180.0 / M_PI, 90.0, 2.0);
    EXPECT_NEAR(std::abs(turn.axis().z()), 1.0, 1e-9);
    EXPECT_TRUE((shown * centre.homogeneous()).head<3>().isApprox(centre, 1e-9)) << "about the centre";

    child("alignMeshWidget")->findChild<QPushButton*>()->click();
    EXPECT_EQ(view->mesh->matrix(), identityGlMatrix());
    ASSERT_EQ(current()->vertices().size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(current()->vertices()[i].isApprox((shown * before[i].homogeneous()).head<3>(), 1e-9)) << i;
}

TEST_F(MeshTools, FillingHolesReplacesTheMeshAndAFailedFillKeepsIt)
{
    Mesh* const generated = current();
    click("toolButtonMeshFillHoles");
    Mesh* const filled = current();
    ASSERT_NE(filled, generated);
    EXPECT_GT(filled->faces().size(), generated->faces().size());
    EXPECT_EQ(view->mesh->mesh, filled);
    expectHistory(filled, {generated}, {});

    // Points without normals give the surface reconstruction nothing to go by.
    for (V& normal : filled->normals())
        normal.setZero();
    const std::size_t boxes = answers->boxes().size();
    click("toolButtonMeshFillHoles");
    expectHistory(filled, {generated}, {});
    ASSERT_EQ(answers->boxes().size(), boxes + 1);
    EXPECT_EQ(answers->boxes().back().text, "The mesh could not be processed. It was kept as it was.");
    EXPECT_EQ(answers->boxes().back().icon, QMessageBox::Warning);
    click("pushButtonMeshUndo");
    expectHistory(generated, {}, {filled});
}

TEST_F(MeshTools, RenderButtonsSetTheDrawingMode)
{
    const std::pair<const char*, int> buttons[] = {{"pushButtonMeshWireframe", MeshRenderMode::Wireframe},
                                                   {"pushButtonMeshSurface", MeshRenderMode::Surface},
                                                   {"pushButtonMeshSurfaceWireframe",
                                                    MeshRenderMode::SurfaceAndWireframe},
                                                   {"pushButtonMeshTextured", MeshRenderMode::Textured}};
    for (const auto& [button, renderMode] : buttons) {
        click(button);
        EXPECT_EQ(view->mesh->renderMode, renderMode) << button;
    }
}

TEST_F(MeshTools, DoneAsksOnceForAnUnsavedMeshAndNeverDropsOneThatWasNotSaved)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString saved = folder.filePath("saved.ply");
    const QString unwritable = unwritablePath();
    const QString notSaved = "The mesh was not saved. It has been kept.";

    struct Case {
        const char* name;
        std::function<void()> before;  // what the user did before Done
        QMessageBox::StandardButton answer;
        std::vector<FileDialogAnswers::Answer> files;  // dialogs opened by Done
        std::size_t questions;
        bool kept;
        QString lastText;
    };
    const Case cases[] = {
        {"unsaved, not to be saved", [] {}, QMessageBox::No, {}, 1, false, ""},
        {"saved", [&] { save(saved); }, QMessageBox::No, {}, 0, false, ""},
        {"edited after saving", [&] { save(saved); smooth(); }, QMessageBox::No, {}, 1, false, ""},
        {"saved when asked", [] {}, QMessageBox::Yes, {{saved, plyFilter}}, 1, false, ""},
        {"save cancelled", [] {}, QMessageBox::Yes, {{"", ""}}, 1, true, notSaved},
        {"save failed", [] {}, QMessageBox::Yes, {{unwritable, plyFilter}}, 1, true, notSaved},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(saved);
        answerBoxesWith(c.answer);
        openWindow(threePieces());
        c.before();
        Mesh* const shown = current();

        {
            FileDialogAnswers files(c.files);
            click("pushButtonFinish");
            EXPECT_EQ(files.openedIn().size(), c.files.size());
        }
        const auto& boxes = answers->boxes();
        const auto questions = std::count_if(boxes.begin(), boxes.end(), [](const MessageBoxLog::Box& box) {
            return box.icon == QMessageBox::Question;
        });
        EXPECT_EQ(static_cast<std::size_t>(questions), c.questions);
        if (c.kept) {
            EXPECT_EQ(mode(), 3);
            EXPECT_EQ(current(), shown);
            EXPECT_EQ(boxes.back().text, c.lastText) << "said so";
            EXPECT_EQ(boxes.back().icon, QMessageBox::Information);
        } else {
            EXPECT_EQ(mode(), 1);
            EXPECT_EQ(current(), nullptr);
        }
    }
}

TEST_F(MeshTools, ClosingStaysOpenWhenTheWantedSaveDidNotHappen)
{
    answerBoxesWith(QMessageBox::Yes);
    {
        FileDialogAnswers files({FileDialogAnswers::Answer{"", ""}});
        EXPECT_FALSE(window->close());
    }
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(current(), nullptr);
    EXPECT_EQ(answers->boxes().back().text, "The mesh was not saved. It has been kept.");
}

TEST_F(MeshTools, SavesWithTheWriterOfTheChosenFilterWhateverTheName)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const Mesh& mesh = *current();

    const QString plyAsObj = folder.filePath("scan.obj");
    save(plyAsObj, plyFilter);
    EXPECT_TRUE(MainWindowProbe::meshSaved(*window));
    const PlyContents ply = readPly(readFileBytes(plyAsObj));
    EXPECT_EQ(ply.format, "binary_little_endian");
    ASSERT_EQ(ply.vertices.size(), mesh.vertices().size());
    for (std::size_t i = 0; i < ply.vertices.size(); ++i) {
        auto record = ply.vertices[i];
        const V& v = mesh.vertices()[i];
        EXPECT_EQ(record["x"], v.x()) << i;
        EXPECT_EQ(record["y"], -v.y()) << i;
        EXPECT_EQ(record["z"], -v.z()) << i;
    }
    EXPECT_EQ(ply.faces.size(), mesh.faces().size());

    const QString stlAsPly = folder.filePath("scan.ply");
    save(stlAsPly, stlFilter);
    const std::vector<unsigned char> stl = readFileBytes(stlAsPly);
    ASSERT_EQ(stl.size(), 84u + 50u * mesh.faces().size()) << "binary STL";

    const QString obj = folder.filePath("scan.txt");
    save(obj, objFilter);
    QFile text(obj);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = text.readAll().split('\n');
    EXPECT_EQ(lines.at(0), "vn 0 -0 -1") << "the normal (0, 0, 1) turned";
    EXPECT_TRUE(lines.at(1).startsWith("v 0 -0 -0 ")) << lines.at(1).toStdString();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.startsWith("f "); }),
              static_cast<long>(mesh.faces().size()));
}

TEST_F(MeshTools, FailedSaveSaysSoAndLeavesTheMeshUnsaved)
{
    const QString path = unwritablePath();
    save(path, plyFilter);
    EXPECT_FALSE(MainWindowProbe::meshSaved(*window));
    EXPECT_FALSE(QFile::exists(path));
    ASSERT_FALSE(answers->boxes().empty());
    const MessageBoxLog::Box& box = answers->boxes().back();
    EXPECT_EQ(box.title, "Save mesh");
    EXPECT_EQ(box.text.toStdString(), ("The mesh could not be saved to " + path + ".").toStdString());
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.format, Qt::PlainText);
}

TEST_F(MeshTools, SaveDialogRemembersTheFolderOfTheLastSavedFile)
{
    QTemporaryDir first, second;
    ASSERT_TRUE(first.isValid() && second.isValid());
    QSettings().remove("saveMesh");
    FileDialogAnswers files({{first.filePath("a.ply"), plyFilter},
                             {"", ""},
                             {second.filePath("b.ply"), plyFilter},
                             {"", ""}});
    for (int i = 0; i < 4; ++i)
        click("pushButtonSaveMesh");
    MainWindowProbe::meshSaved(*window) = false;
    ASSERT_EQ(files.openedIn().size(), 4);
    EXPECT_EQ(files.openedIn()[0], QDir::currentPath()) << "nothing remembered yet";
    EXPECT_EQ(files.openedIn()[1], first.path());
    EXPECT_EQ(files.openedIn()[2], first.path()) << "a cancel forgets nothing";
    EXPECT_EQ(files.openedIn()[3], second.path());
    EXPECT_EQ(QSettings().value("saveMesh").toString(), second.path());
}

TEST_F(MeshTools, FileNamesWithAnyCharactersSaveAndReopen)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath(QString::fromUtf8("Büste Ørsted 網格 🙂.ply"));
    save(path, plyFilter);
    EXPECT_TRUE(MainWindowProbe::meshSaved(*window));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
    EXPECT_EQ(readPly(readFileBytes(path)).vertices.size(), current()->vertices().size());
}

TEST_F(MeshTools, SavingWithoutAMeshSaysSoAndOpensNoDialog)
{
    delete current();
    MainWindowProbe::mesh(*window) = nullptr;
    view->mesh->mesh = nullptr;
    FileDialogAnswers files({});
    click("pushButtonSaveMesh");
    EXPECT_TRUE(files.openedIn().isEmpty());
    ASSERT_FALSE(answers->boxes().empty());
    EXPECT_EQ(answers->boxes().back().title, "Save mesh");
    EXPECT_EQ(answers->boxes().back().text, "Cannot save empty mesh");
    EXPECT_EQ(answers->boxes().back().icon, QMessageBox::Information);
}

TEST_F(MeshTools, NothingTheUserDoesWhileAnObjIsWrittenTouchesTheMesh)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString path = folder.filePath("scan.obj");
    Mesh* const shown = current();
    const std::size_t vertices = shown->vertices().size();
    QWidget* page = child("pageVisualization");

    // Runs at every pass of the event loop until it finds the save's progress
    // dialog, then does what a user might do meanwhile.
    auto savingDialogExists = [] {
        const QWidgetList windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(), [](QWidget* widget) {
            auto* dialog = qobject_cast<QProgressDialog*>(widget);
            return dialog && dialog->labelText() == "Saving mesh...";
        });
    };
    bool triedDuringSave = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        if (triedDuringSave || !savingDialogExists())
            return;
        triedDuringSave = true;
        EXPECT_FALSE(page->isEnabled());
        click("pushButtonFinish");
        click("pushButtonSmooth");
        EXPECT_FALSE(window->close()) << "a close waits for the file";
        EXPECT_EQ(current(), shown);
    });
    user.start(0);
    save(path, objFilter);
    user.stop();

    EXPECT_TRUE(triedDuringSave);
    EXPECT_TRUE(page->isEnabled());
    EXPECT_EQ(mode(), 3);
    EXPECT_TRUE(MainWindowProbe::undoStack(*window).empty());
    QFile text(path);
    ASSERT_TRUE(text.open(QIODevice::ReadOnly));
    EXPECT_EQ(text.readAll().count("\nv "), static_cast<int>(vertices));
    ASSERT_TRUE(waitUntil([&] { return !window->isVisible(); }, 5000)) << "closed after the save";
    EXPECT_EQ(countTitled(*answers, "Save mesh"), 0u) << "saved: nothing to ask";
}

TEST_F(MeshTools, ScreenshotsOfThePanelsAndOfTheBusyDialog)
{
    auto* settings = child<QScrollArea>("scrollArea");
    const std::pair<const char*, const char*> tools[] = {{"toolButtonMeshSmooth", "MeshToolSmooth"},
                                                         {"toolButtonMeshDecimate", "MeshToolDecimate"},
                                                         {"toolButtonMeshClean", "MeshToolClean"},
                                                         {"toolButtonMeshCrop", "MeshToolCrop"},
                                                         {"toolButtonMeshAlign", "MeshToolAlign"}};
    for (const auto& [button, name] : tools) {
        click(button);
        if (button == std::string("toolButtonMeshClean"))
            child<CleanMeshWidget>("cleanMeshWidget")->setMaxAreaLabel(999999.0);  // the widest text
        handleEventsFor(100);
        EXPECT_TRUE(saveScreenshot(*settings, name)) << name;
    }

    std::atomic<bool> release{false};
    QTimer::singleShot(300, [&] {
        for (QProgressDialog* busy : window->findChildren<QProgressDialog*>()) {
            if (busy->isVisible()) {
                EXPECT_EQ(busy->labelText(), "Processing mesh ...");
                EXPECT_TRUE(saveScreenshotWithDialog(*window, *busy, "MeshModeBusy"));
            }
        }
        release = true;
    });
    MainWindowProbe::runOnWorker(*window, "Processing mesh ...", [&]() -> Mesh* {
        while (!release)
            QThread::msleep(5);
        return nullptr;
    });
    EXPECT_TRUE(release);
}

}  // namespace
}  // namespace Veltrane
