#include "render/ImageView2D.h"

#include "core/Logging.h"
#include "core/SharedImage.h"
#include "core/SharedImageSet.h"
#include "render/GlColormap.h"
#include "render/GlSlice.h"
#include "render/GlSliceView.h"
#include "render/GpuHistogram.h"
#include "render/InteractionView2D.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMetaMethod>
#include <QOpenGLContext>

namespace Veltrane {

Windowing autoWindowing(const std::vector<float>& counts, long long samples, double lowerLimit,
                        double upperLimit)
{
    const int last = static_cast<int>(counts.size()) - 1;
    const auto count = [&](int bin) {
        return static_cast<double>(counts[static_cast<std::size_t>(bin)]);
    };
    // The bins whose counts, added from either end, stay within the limits
    // are cut off, together with the bin that passes the limit.
    double sum = 0.0;
    int added = 0;
    do {
        sum += count(added++);
    } while (sum <= samples * lowerLimit && added <= last);
    int lower = std::max(added - 1, 0);
    sum = 0.0;
    int below = last;
    do {
        sum += count(below--);
    } while (sum <= samples * upperLimit && below >= 0);
    int upper = std::min(below + 1, last);

    if (lower == upper) {
        VELTRANE_WARN("AutoWindowing: Lower and upper bin identical");
        if (upper == last && lower > 0)
            --lower;
        else if (upper < last)
            ++upper;
    }
    const double window = static_cast<double>(upper) / last - static_cast<double>(lower) / last;
    const double level =
        (static_cast<double>(upper) / last + static_cast<double>(lower) / last) * 0.5;
    if (window <= 0.0)
        VELTRANE_WARN("AutoWindowing: Negative window");
    if (level < 0.0 || level > 1.0)
        VELTRANE_WARN("AutoWindowing: Level out of range");
    return {window, level};
}

ImageView2D::ImageView2D(int orientation, GlSliceView* view)
    : InteractiveView(view ? view : new GlSliceView(orientation)),
      m_sliceView(static_cast<GlSliceView*>(glView())),
      m_interaction2D(std::make_unique<InteractionView2D>(this))
{
    static const QColor frames[3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    if (orientation >= 0 && orientation <= 2)
        borderColor = frames[orientation];
    createActions();
    interaction = m_interaction2D.get();
}

ImageView2D::~ImageView2D() = default;

GlSlice* ImageView2D::slice() const
{
    return m_sliceView->slice();
}

int ImageView2D::interpolation() const
{
    return slice()->interpolation();
}

bool ImageView2D::flip() const
{
    return m_sliceView->flip;
}

bool ImageView2D::blend() const
{
    return slice()->blend;
}

double ImageView2D::blendFactor() const
{
    return slice()->blendFactor();
}

double ImageView2D::scale() const
{
    return m_sliceView->scale();
}

double ImageView2D::zoom() const
{
    return m_sliceView->zoom();
}

bool ImageView2D::pixelZoom() const
{
    return m_sliceView->isPixelZoom();
}

double ImageView2D::window() const
{
    return slice()->window;
}

double ImageView2D::level() const
{
    return slice()->level;
}

double ImageView2D::gamma() const
{
    return slice()->gamma;
}

void ImageView2D::setInterpolation(int interpolation)
{
    const int before = slice()->interpolation();
    slice()->setInterpolation(interpolation);
    if (slice()->interpolation() == before)
        return;
    emit interpolationChanged(slice()->interpolation());
    emit updateRequested();
}

void ImageView2D::setFlip(bool flip)
{
    if (flip == m_sliceView->flip)
        return;
    m_sliceView->flip = flip;
    emit flipChanged(flip);
    emit updateRequested();
}

void ImageView2D::setBlend(bool blend)
{
    if (blend == slice()->blend)
        return;
    slice()->blend = blend;
    emit blendChanged(blend);
    emit updateRequested();
}

void ImageView2D::setBlendFactor(double factor)
{
    const double before = slice()->blendFactor();
    slice()->setBlendFactor(factor);
    if (slice()->blendFactor() == before)
        return;
    emit blendFactorChanged(slice()->blendFactor());
    emit updateRequested();
}

void ImageView2D::setScale(double scale)
{
    if (scale == m_sliceView->scale())
        return;
    m_sliceView->setScale(scale);
    emit scaleChanged(scale);
    emit updateRequested();
}

void ImageView2D::setZoom(double zoom)
{
    if (zoom == m_sliceView->zoom())
        return;
    m_sliceView->setZoom(zoom);
    emit zoomChanged(zoom);
    emit updateRequested();
}

void ImageView2D::setPixelZoom(bool pixelZoom)
{
    if (!pixelZoom || m_sliceView->isPixelZoom())
        return;
    m_sliceView->setPixelZoom();
    emit pixelZoomChanged(true);
    emit updateRequested();
}

void ImageView2D::setWindow(double window)
{
    if (!(window >= minimumWindow))
        window = minimumWindow;
    if (window == slice()->window)
        return;
    slice()->window = window;
    emit windowChanged(window);
    emit updateRequested();
}

void ImageView2D::setLevel(double level)
{
    if (level == slice()->level)
        return;
    slice()->level = level;
    emit levelChanged(level);
    emit updateRequested();
}

void ImageView2D::setGamma(double gamma)
{
    if (gamma == slice()->gamma)
        return;
    slice()->gamma = gamma;
    emit gammaChanged(gamma);
    emit updateRequested();
}

void ImageView2D::setLowerLimit(double limit)
{
    m_lowerLimit = limit;
}

void ImageView2D::setUpperLimit(double limit)
{
    m_upperLimit = limit;
}

void ImageView2D::setAutoWindowing()
{
    const SharedImageSet& set = *slice()->images();
    SharedImage* image = set.get(set.selection().focus);
    if (!image)
        return;
    if (!QOpenGLContext::currentContext()) {
        VELTRANE_ERROR("AutoWindowing: no OpenGL context");
        return;
    }
    try {
        image->gl();
        GpuHistogram histogram(256);
        if (!histogram.compute(image, 1)) {
            VELTRANE_ERROR("AutoWindowing: the histogram cannot be computed");
            return;
        }
        if (histogram.sampleCount() == 0) {
            VELTRANE_WARN("AutoWindowing: Empty histogram");
            return;
        }
        const Windowing windowing = autoWindowing(histogram.counts(), histogram.sampleCount(),
                                                  m_lowerLimit, m_upperLimit);
        setWindow(windowing.window);
        setLevel(windowing.level);
    } catch (const std::exception& error) {
        VELTRANE_ERROR("AutoWindowing: " << error.what());
    }
}

QAction* ImageView2D::action(const char* name) const
{
    return m_actions.value(QString::fromLatin1(name));
}

void ImageView2D::createActions()
{
    auto* actions = new QActionGroup(this);
    actions->setExclusive(false);
    auto* interpolations = new QActionGroup(actions);
    auto* colormaps = new QActionGroup(actions);
    const auto add = [this](QActionGroup* group, const char* key, const QString& text,
                            bool checkable) {
        auto* action = new QAction(text, group);
        action->setCheckable(checkable);
        m_actions.insert(QString::fromLatin1(key), action);
        return action;
    };
    add(actions, "Flip", tr("Flip"), true)->setShortcut(QKeySequence(Qt::Key_F));
    add(actions, "Use Shader", tr("Use Shader"), true);
    add(actions, "Color Blending", tr("Color Blending"), true);
    add(actions, "Orig", tr("Original Size"), false);
    add(interpolations, "Nearest", tr("Nearest"), true);
    add(interpolations, "Linear", tr("Linear"), true);
    add(interpolations, "Cubic", tr("Cubic"), true);
    add(colormaps, "Default", tr("Default"), true);
    add(colormaps, "Jet", tr("Jet"), true);
    add(actions, "Move Image", tr("Move Image"), true);
    add(actions, "Edit Windowing", tr("Edit Windowing"), false);
    add(actions, "Auto Windowing", tr("Auto Windowing"), false);
    add(actions, "Show Histogram", tr("Show Histogram"), true);
    for (QActionGroup* group : {actions, interpolations, colormaps})
        connect(group, SIGNAL(triggered(QAction*)), this, SLOT(contextMenuEvaluate(QAction*)));
}

void ImageView2D::setColormap(std::unique_ptr<GlColormap> colormap)
{
    m_colormap = std::move(colormap);
    slice()->colormap = m_colormap.get();
    emit updateRequested();
}

void ImageView2D::contextMenuEvaluate(QAction* chosen)
{
    if (!chosen)
        return;
    InteractiveView::contextMenuEvaluate(chosen);
    const bool checked = chosen->isChecked();
    if (chosen == action("Flip")) {
        setFlip(checked);
    } else if (chosen == action("Use Shader")) {
        slice()->setUseShader(checked);
        emit updateRequested();
    } else if (chosen == action("Color Blending")) {
        setBlend(checked);
    } else if (chosen == action("Orig")) {
        setPixelZoom(true);
    } else if (chosen == action("Nearest")) {
        setInterpolation(0);
    } else if (chosen == action("Linear")) {
        setInterpolation(1);
    } else if (chosen == action("Cubic")) {
        setInterpolation(2);
    } else if (chosen == action("Default")) {
        setColormap(nullptr);
    } else if (chosen == action("Jet")) {
        if (!QOpenGLContext::currentContext()) {
            VELTRANE_ERROR("Colour map: no OpenGL context");
            return;
        }
        try {
            setColormap(std::make_unique<GlColormap>(1, 256));
        } catch (const std::exception& error) {
            VELTRANE_ERROR("Colour map: " << error.what());
        }
    } else if (chosen == action("Move Image")) {
        m_interaction2D->moveImage = checked ? 1 : 0;
    } else if (chosen == action("Edit Windowing")) {
        emit windowingEditorRequested();
    } else if (chosen == action("Auto Windowing")) {
        setAutoWindowing();
    } else if (chosen == action("Show Histogram")) {
        emit showHistogramRequested(checked);
    }
}

void ImageView2D::addContextMenuActions(QMenu* menu)
{
    InteractiveView::addContextMenuActions(menu);
    menu->addSeparator();
    action("Flip")->setChecked(flip());
    action("Use Shader")->setChecked(slice()->useShader());
    action("Color Blending")->setChecked(blend());
    for (const char* name : {"Flip", "Use Shader", "Color Blending", "Orig"})
        menu->addAction(action(name));
    menu->addSeparator();
    if (isSignalConnected(QMetaMethod::fromSignal(&ImageView2D::windowingEditorRequested)))
        menu->addAction(action("Edit Windowing"));
    menu->addAction(action("Auto Windowing"));
    if (isSignalConnected(QMetaMethod::fromSignal(&ImageView2D::showHistogramRequested)))
        menu->addAction(action("Show Histogram"));
    menu->addSeparator();

    QMenu* interpolations = menu->addMenu(tr("Interpolation"));
    const char* const filters[3] = {"Nearest", "Linear", "Cubic"};
    for (int i = 0; i < 3; ++i) {
        action(filters[i])->setChecked(interpolation() == i);
        interpolations->addAction(action(filters[i]));
    }
    QMenu* colormaps = menu->addMenu(tr("Colormapping"));
    action("Default")->setChecked(!m_colormap);
    action("Jet")->setChecked(m_colormap != nullptr);
    colormaps->addAction(action("Default"));
    colormaps->addAction(action("Jet"));

    action("Move Image")->setChecked(m_interaction2D->moveImage == 1);
    menu->addAction(action("Move Image"));
}

}  // namespace Veltrane
