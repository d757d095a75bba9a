// The report handler used while nobody installed one; one source per platform.
#pragma once

// Shows text under title with one OK button and waits until it is closed.
void DefaultReport(const char* title, const char* text);
