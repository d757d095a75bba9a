// The decimation-in-time butterflies shared by the transforms of this library.
#pragma once

// The stages from firstStage (1, or 3 when a caller did the first two itself)
// to `stages` = log2(n) of an in-place radix-2 transform of re/im[0..n-1],
// whose entries are in bit-reversed order. The stage with half-span le1 takes
// its le1 twiddles from twiddleRe/Im[le1 - 1 ..].
void RadixTwoButterflies(double* re, double* im, int n, const double* twiddleRe,
                         const double* twiddleIm, int stages, int firstStage);
