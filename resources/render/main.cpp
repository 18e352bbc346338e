// Renders one SVG icon source into a PNG of a given size at build time:
//   korvastel_render_icon <source.svg> <target.png> <size> [ink]
// Every "currentColor" in the source becomes `ink` (default black), so one
// drawing serves both the light and the dark variant of an icon.

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::fprintf(stderr, "usage: %s <source.svg> <target.png> <size> [ink]\n", argv[0]);
        return 2;
    }
    QFile source(QString::fromLocal8Bit(argv[1]));
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray svg = source.readAll();
    svg.replace("currentColor", argc == 5 ? QByteArray(argv[4]) : QByteArray("#000000"));

    QSvgRenderer renderer(svg);
    const int size = QByteArray(argv[3]).toInt();
    if (!renderer.isValid() || size <= 0) {
        std::fprintf(stderr, "cannot render %s at %s pixels\n", argv[1], argv[3]);
        return 1;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
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
