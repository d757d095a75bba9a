// Whether standard error is a terminal, where a progress bar can be drawn.
#pragma once

bool StandardErrorIsTerminal();
