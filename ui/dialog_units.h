// Dialog units to pixels for the templates' 8-point font at 96 DPI: 1 DLU is
// 1.5 px across (base unit 6 / 4) and 1.625 px down (13 / 8), rounded as the
// platform's MulDiv rounds (half away from zero).
#pragma once

#include <QRect>

constexpr int MulDivRound(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : -((-product + half) / denominator));
}

constexpr int DluToPixelsX(int x) {
    return MulDivRound(x, 6, 4);
}
constexpr int DluToPixelsY(int y) {
    return MulDivRound(y, 13, 8);
}

// A template rectangle (x, y, width, height in DLU) in client pixels; both
// corners are mapped, as the platform maps dialog rectangles.
inline QRect DluRect(int x, int y, int w, int h) {
    const int left = DluToPixelsX(x);
    const int top = DluToPixelsY(y);
    return QRect(left, top, DluToPixelsX(x + w) - left, DluToPixelsY(y + h) - top);
}
