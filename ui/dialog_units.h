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

// A template rectangle (x, y, width, height in DLU) in client pixels. Each of
// the four is converted on its own, as the dialog manager converts a control's
// position and size: mapping the far corner instead would make some controls a
// pixel narrower or shorter.
inline QRect DluRect(int x, int y, int w, int h) {
    return QRect(DluToPixelsX(x), DluToPixelsY(y), DluToPixelsX(w), DluToPixelsY(h));
}
