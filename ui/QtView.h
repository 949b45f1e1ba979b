// The window front end. Nothing of Qt shows here, so the entry point that picks a front end
// needs no toolkit header.
#pragma once

#include <memory>
#include <string>

#include "ui/View.h"

namespace qvu {

// Creates the application object (unless one exists) and the main window, not yet shown.
// argc and argv must outlive the view, as the application object keeps them.
std::unique_ptr<View> CreateQtView(int& argc, char** argv);

// The warning of a second copy, shown before anything else exists: a warning box with the
// exclamation icon and one OK button. Creates and removes its own application object when
// none exists.
void ShowQtAlreadyRunning(int& argc, char** argv, const std::string& text,
                          const std::string& caption);

}  // namespace qvu
