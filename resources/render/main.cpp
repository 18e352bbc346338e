// Renders one SVG icon source into a PNG of a given size at build time:
//   korvastel_render_icon <source.svg> <target.png> <size> [ink]
// <size> is the edge of a square icon, or <width>x<height> for a picture.
// Every "currentColor" in the source becomes `ink` (default black), so one
// drawing serves both the light and the dark variant of an icon.

#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: %s <source.svg> <target.png> <size> [ink]\n", argv[0]);
        return 2;
    }
    // Text in a drawing needs fonts, which need an application; no display is
    // needed to render into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray svg = source.readAll();
    svg.replace("currentColor", argc == 5 ? QByteArray(argv[4]) : QByteArray("#000000"));

    QSvgRenderer renderer(svg);
    const QList<QByteArray> edges = QByteArray(argv[3]).split('x');
    const int width = edges.front().toInt();
    const int height = edges.size() == 2 ? edges.back().toInt() : width;
    if (!renderer.isValid() || width <= 0 || height <= 0 || edges.size() > 2) {
        std::fprintf(stderr, "cannot render %s at %s pixels\n", argv[1], argv[3]);
        return 1;
    }
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
