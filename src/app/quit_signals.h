// SPDX-License-Identifier: MIT
#pragma once

class QWidget;

namespace lirevo {

// Closes the window, as its close button would, when the program is asked to
// end from outside (Ctrl+C in the terminal it was started from, a logout, a
// plain kill). The recorder runs apart from the program and would otherwise
// record on, unseen, with the settings unsaved.
void closeOnQuitSignals(QWidget& window);

}  // namespace lirevo
