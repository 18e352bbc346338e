#pragma once

#include "render/InteractiveView.h"

#include <memory>
#include <vector>

class QActionGroup;

namespace Veltrane {

class GlColormap;
class GlSlice;
class GlSliceView;
class InteractionView2D;

/// Window and level that auto windowing derives from a histogram.
struct Windowing {
    double window;
    double level;
};

/// The window that leaves the fraction `lowerLimit` of the `samples` counted
/// in `counts` below it and the fraction `upperLimit` above it, in units of
/// the histogram's range (0 ... 1). A window that would be empty grows to one
/// bin; the warnings "AutoWindowing: Lower and upper bin identical",
/// "AutoWindowing: Negative window" and "AutoWindowing: Level out of range"
/// are logged where they apply. Needs at least one sample.
Windowing autoWindowing(const std::vector<float>& counts, long long samples, double lowerLimit,
                        double upperLimit);

/// An interactive view of an image or a volume slice: owns a `GlSliceView`
/// with its `GlSlice`, exposes the display values as properties with change
/// signals, offers image actions in its context menu, and drives its view
/// with its own mouse handler, an `InteractionView2D` (installed as its
/// interaction; the owner may install another one instead).
///
/// Every setter returns at once when the value does not change; otherwise it
/// stores the value, emits the value's change signal and then
/// updateRequested(). The window stays above zero.
class ImageView2D : public InteractiveView {
    Q_OBJECT
    Q_PROPERTY(int interpolation READ interpolation WRITE setInterpolation NOTIFY
                   interpolationChanged)
    Q_PROPERTY(bool flip READ flip WRITE setFlip NOTIFY flipChanged)
    Q_PROPERTY(bool blend READ blend WRITE setBlend NOTIFY blendChanged)
    Q_PROPERTY(double blendFactor READ blendFactor WRITE setBlendFactor NOTIFY blendFactorChanged)
    Q_PROPERTY(double scale READ scale WRITE setScale NOTIFY scaleChanged)
    Q_PROPERTY(double zoom READ zoom WRITE setZoom NOTIFY zoomChanged)
    Q_PROPERTY(bool pixelZoom READ pixelZoom WRITE setPixelZoom NOTIFY pixelZoomChanged)
    Q_PROPERTY(double window READ window WRITE setWindow NOTIFY windowChanged)
    Q_PROPERTY(double level READ level WRITE setLevel NOTIFY levelChanged)
    Q_PROPERTY(double gamma READ gamma WRITE setGamma NOTIFY gammaChanged)
    Q_PROPERTY(double lowerLimit READ lowerLimit WRITE setLowerLimit)
    Q_PROPERTY(double upperLimit READ upperLimit WRITE setUpperLimit)

public:
    /// The narrowest window: one step of a 16-bit value.
    static constexpr double minimumWindow = 1.0 / 65535.0;

    /// Shows `view` (owned), or without one a new slice view of the standard
    /// plane `orientation`; the frame takes the orientation's axis colour
    /// (0 red, 1 green, 2 blue).
    explicit ImageView2D(int orientation, GlSliceView* view = nullptr);
    ~ImageView2D() override;

    GlSliceView* sliceView() const { return m_sliceView; }
    GlSlice* slice() const;
    InteractionView2D* interaction2D() const { return m_interaction2D.get(); }
    /// The colour map chosen with "Jet"; null for the default grey.
    GlColormap* colormap() const { return m_colormap.get(); }

    int interpolation() const;
    bool flip() const;
    bool blend() const;
    double blendFactor() const;
    double scale() const;
    double zoom() const;
    bool pixelZoom() const;
    double window() const;
    double level() const;
    double gamma() const;
    double lowerLimit() const { return m_lowerLimit; }
    double upperLimit() const { return m_upperLimit; }

    /// The view's entries, then the image actions: flip, shader, colour
    /// blending, original size, the windowing actions, interpolation and
    /// colour map submenus, and moving the image.
    void addContextMenuActions(QMenu* menu) override;

public slots:
    void setInterpolation(int interpolation);
    void setFlip(bool flip);
    void setBlend(bool blend);
    void setBlendFactor(double factor);
    void setScale(double scale);
    void setZoom(double zoom);
    /// True shows one image pixel per view pixel; false does nothing.
    void setPixelZoom(bool pixelZoom);
    /// Values below minimumWindow are taken as minimumWindow.
    void setWindow(double window);
    void setLevel(double level);
    void setGamma(double gamma);
    void setLowerLimit(double limit);
    void setUpperLimit(double limit);
    /// Sets window and level from the histogram of the focus image (counted
    /// on the GPU), cutting off `lowerLimit` and `upperLimit` of its pixels.
    /// Needs the OpenGL context of the image's texture current. Failures are
    /// logged and change nothing.
    void setAutoWindowing();

signals:
    void focusChanged(int focus);
    void interpolationChanged(int interpolation);
    void flipChanged(bool flip);
    void blendChanged(bool blend);
    void blendFactorChanged(double factor);
    void scaleChanged(double scale);
    void zoomChanged(double zoom);
    void pixelZoomChanged(bool pixelZoom);
    void windowChanged(double window);
    void levelChanged(double level);
    void gammaChanged(double gamma);
    void windowingEditorRequested();
    void showHistogramRequested(bool show);

protected slots:
    void contextMenuEvaluate(QAction* action) override;

protected:
    void createActions() override;

private:
    /// The action stored under `name`.
    QAction* action(const char* name) const;
    void setColormap(std::unique_ptr<GlColormap> colormap);

    GlSliceView* m_sliceView;
    std::unique_ptr<GlColormap> m_colormap;
    std::unique_ptr<InteractionView2D> m_interaction2D;
    double m_lowerLimit = 0.02;
    double m_upperLimit = 0.02;
};

}  // namespace Veltrane
