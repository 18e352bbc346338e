#pragma once

class QWidget;

namespace Veltrane {

/// Gives a dialog or message box the look every window of the application
/// shares: the object name "topWidget" and a style sheet that draws a white
/// 2-pixel border around it, the outline of a window shown without a native
/// frame.
void applyTopWidgetStyle(QWidget& widget);

}  // namespace Veltrane
