#include "ui/app_icon.h"

#include <QPixmap>
#include <QVector>
#include <cmath>

namespace {

// The 16 colours of the classic palette.
enum Colour : uint {
    kBlackIdx = 0,
    kMaroon,
    kGreen,
    kOlive,
    kNavy,
    kPurple,
    kTeal,
    kSilver,
    kGrey,
    kRed,
    kLime,
    kYellow,
    kBlue,
    kFuchsia,
    kAqua,
    kWhiteIdx
};

QVector<QRgb> Palette16() {
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

}  // namespace

QImage AppIconImage(int size) {
    QImage image(size, size, QImage::Format_Indexed8);
    image.setColorTable(Palette16());
    image.fill(kNavy);
    const int s = size;
    const int inset = s / 16;  // 2 px at 32, 1 px at 16
    const int left = inset, top = inset, right = s - 1 - inset, bottom = s - 1 - inset;
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const bool edge = x == left || x == right || y == top || y == bottom;
            image.setPixel(x, y, edge ? kBlackIdx : kWhiteIdx);
        }
    }
    // Light grid in quarters.
    for (int q = 1; q < 4; ++q) {
        const int gx = left + (right - left) * q / 4;
        const int gy = top + (bottom - top) * q / 4;
        for (int i = top + 1; i < bottom; ++i) image.setPixel(gx, i, kSilver);
        for (int i = left + 1; i < right; ++i) image.setPixel(i, gy, kSilver);
    }
    // The trace: a noise floor with one tall peak and a smaller harmonic.
    const int floorY = bottom - (bottom - top) / 5;
    int previous = -1;
    for (int x = left + 1; x < right; ++x) {
        const double u = static_cast<double>(x - left) / (right - left);
        double level = 0.0;
        level += 0.85 * std::exp(-std::pow((u - 0.3) * 22.0, 2.0));
        level += 0.45 * std::exp(-std::pow((u - 0.6) * 26.0, 2.0));
        level += 0.06 * (((x * 7) % 5) / 4.0);
        int y = floorY - static_cast<int>(level * (floorY - top - 1));
        if (y <= top) y = top + 1;
        const int from = previous < 0 ? y : previous;
        const int lo = std::min(from, y), hi = std::max(from, y);
        for (int yy = lo; yy <= hi; ++yy) image.setPixel(x, yy, kRed);
        previous = y;
    }
    return image;
}

QIcon AppIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(AppIconImage(32)));
    icon.addPixmap(QPixmap::fromImage(AppIconImage(16)));
    return icon;
}
