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

// Shows a view made by CreateQtView and saves what its window shows, frame aside, as a PNG
// file (the picture of the window in the README). False when the file cannot be written.
bool SaveWindowPicture(View& view, const std::string& path);

}  // namespace qvu
