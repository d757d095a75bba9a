// Numbers as the texts of this program write them: always with a '.', whatever
// locale the process runs under (a GUI toolkit sets the C library's locale
// from the environment, and printf would then write "8,3").
#pragma once

#include <string>

// value with `decimals` digits after the point, rounded as printf's "%.*f"
// rounds in the C locale ("-0.0", "inf" and "nan" included).
std::string FixedText(double value, int decimals);
