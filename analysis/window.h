// The window's weight table, for ResetAnalysisState.
#pragma once

// Forgets the cached weights; the next window call recomputes them.
void ResetWindowTable();
