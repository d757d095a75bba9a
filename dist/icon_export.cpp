// pelkor-icons OUTDIR: the desktop icon set drawn from the dialog's own icon.
// The 16- and 32-pixel pictures are the dialog's, 48 is drawn the same way at
// its own size, and the larger sizes are whole-number enlargements of the 32,
// so every size keeps the crisp 16-colour look; the SVG traces the 32-pixel
// picture cell by cell.
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTextStream>
#include <cstdio>

#include "ui/app_icon.h"

namespace {

struct IconSize {
    int size;
    int base;  // the size the picture is drawn at, then enlarged from
};

constexpr IconSize kSizes[] = {{16, 16}, {32, 32}, {48, 48}, {64, 32}, {128, 32}, {256, 32}};

QImage DesktopIcon(const IconSize& s) {
    const QImage base = AppIconImage(s.base).convertToFormat(QImage::Format_RGB32);
    return base.scaled(s.size, s.size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

// Runs of equal colour along each row become one rectangle each.
QString SvgOf(const QImage& image) {
    QString svg;
    QTextStream out(&svg);
    const int n = image.width();
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << n << "\" height=\"" << n
        << "\" viewBox=\"0 0 " << n << ' ' << n << "\" shape-rendering=\"crispEdges\">\n";
    for (int y = 0; y < n; ++y) {
        int x = 0;
        while (x < n) {
            const QRgb c = image.pixel(x, y);
            int end = x + 1;
            while (end < n && image.pixel(end, y) == c) ++end;
            out << "  <rect x=\"" << x << "\" y=\"" << y << "\" width=\"" << (end - x)
                << "\" height=\"1\" fill=\"" << QColor(c).name() << "\"/>\n";
            x = end;
        }
    }
    out << "</svg>\n";
    return svg;
}

bool Save(const QString& path, const QImage& image) {
    if (!QDir().mkpath(QFileInfo(path).path()) || !image.save(path, "PNG")) {
        std::fprintf(stderr, "pelkor-icons: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelkor-icons OUTDIR\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]) + "/hicolor/";
    for (const IconSize& s : kSizes) {
        const QString dir = QString("%1%2x%2/apps/pelkor.png").arg(root).arg(s.size);
        if (!Save(dir, DesktopIcon(s))) return 1;
    }
    const QString svgPath = root + "scalable/apps/pelkor.svg";
    QDir().mkpath(QFileInfo(svgPath).path());
    QFile svg(svgPath);
    if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        svg.write(SvgOf(AppIconImage(32).convertToFormat(QImage::Format_RGB32)).toUtf8()) < 0) {
        std::fprintf(stderr, "pelkor-icons: cannot write %s\n", qPrintable(svgPath));
        return 1;
    }
    return 0;
}
